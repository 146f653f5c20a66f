// Windows names between UTF-16 and the core's UTF-8: every unit sequence
// comes back unchanged, lone surrogates included; a malformed text or one
// that does not fit is refused, never cut.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/utf16.h"

namespace quilbo {
namespace {

struct RoundTrip {
  std::u16string units;
  std::string bytes;
};

TEST(Utf16, EveryUnitSequenceComesBackUnchanged) {
  const RoundTrip rows[] = {
      {u"a.log", "a.log"},
      {u"m\u00FCller.log", "m\xC3\xBCller.log"},
      {u"\u0436\u0443\u0440\u043D\u0430\u043B.log", "\xD0\xB6\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB.log"},
      {u"\u30ED\u30B0.log", "\xE3\x83\xAD\xE3\x82\xB0.log"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},              // a surrogate pair
      {std::u16string(1, u'\xD800') + u"x", "\xED\xA0\x80x"},  // lone high
      {std::u16string(1, u'\xDFFF'), "\xED\xBF\xBF"},          // lone low
      {u"", ""},
  };
  for (const RoundTrip& row : rows) {
    char text[64];
    ASSERT_EQ(Utf8FromUtf16(row.units.c_str(), text, sizeof text),
              static_cast<int>(row.bytes.size()));
    EXPECT_EQ(std::string(text), row.bytes);
    char16_t units[32];
    ASSERT_EQ(Utf16FromUtf8(row.bytes.c_str(), units, 32),
              static_cast<int>(row.units.size()));
    EXPECT_EQ(std::u16string(units), row.units);
#ifdef _WIN32
    // The limits count what the system counts.
    EXPECT_EQ(CharacterCount(row.bytes), row.units.size());
#endif
  }
}

TEST(Utf16, MalformedTextIsRefused) {
  for (const char* text : {"\xC0\x80", "\xE0\x80\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
                           "\x80", "a\xC3", "\xE3\x83", "\xED\xA0\x80\xED\xB0\x80"}) {
    char16_t units[16];
    EXPECT_EQ(Utf16FromUtf8(text, units, 16), -1) << text;
  }
}

TEST(Utf16, TextThatDoesNotFitIsRefusedWhole) {
  char16_t units[4];
  EXPECT_EQ(Utf16FromUtf8("abc", units, 4), 3);
  EXPECT_EQ(Utf16FromUtf8("abcd", units, 4), -1);
  EXPECT_EQ(Utf16FromUtf8("ab\xF0\x9F\x98\x80", units, 4), -1);  // the pair needs two
  char text[4];
  EXPECT_EQ(Utf8FromUtf16(u"\u00FC", text, 3), 2);
  EXPECT_EQ(Utf8FromUtf16(u"a\u00FC", text, 3), -1);
}

}  // namespace
}  // namespace quilbo
