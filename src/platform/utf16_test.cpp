// Windows names between UTF-16 and the core's UTF-8: every unit sequence comes back
// unchanged, lone surrogates included; a malformed text or one that does not fit is refused.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/utf16.h"

namespace quilbo {
namespace {

TEST(Utf16, EveryUnitSequenceComesBackUnchangedOrIsRefusedWhole) {
  const std::pair<std::u16string, std::string> rows[] = {
      {u"a.log", "a.log"}, {u"m\u00FCller", "m\xC3\xBCller"}, {u"\u0436\u07FF", "\xD0\xB6\xDF\xBF"},
      {u"\u30ED\u0800", "\xE3\x83\xAD\xE0\xA0\x80"}, {u"\U0001F600\U0010FFFF", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
      {std::u16string(1, u'\xD800') + u"x", "\xED\xA0\x80x"}, {std::u16string(1, u'\xDFFF'), "\xED\xBF\xBF"}, {u"", ""}};
  for (const auto& [units, bytes] : rows) {
    char text[64];
    char16_t back[32];
    ASSERT_EQ(Utf8FromUtf16(units.c_str(), text, sizeof text), static_cast<int>(bytes.size()));
    EXPECT_EQ(std::string(text), bytes);
    ASSERT_EQ(Utf16FromUtf8(bytes.c_str(), back, 32), static_cast<int>(units.size()));
    EXPECT_EQ(std::u16string(back), units);
#ifdef _WIN32
    EXPECT_EQ(CharacterCount(bytes), units.size());  // the limits count what the system counts
#endif
  }
  char16_t units[4];
  for (const char* text : {"\xC0\x80", "\xE0\x80\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\x80", "a\xC3",
                           "\xE3\x83", "\xED\xA0\x80\xED\xB0\x80", "abcd", "ab\xF0\x9F\x98\x80"})
    EXPECT_EQ(Utf16FromUtf8(text, units, 4), -1) << text;
  char text[4];
  EXPECT_EQ(Utf16FromUtf8("abc", units, 4) + Utf8FromUtf16(u"\u00FC", text, 3), 5);  // just fits
  for (const int refused : {Utf8FromUtf16(u"a\u00FC", text, 3), Utf16FromUtf8("", units, 0), Utf8FromUtf16(u"", text, 0)})
    EXPECT_EQ(refused, -1);  // no room, not even for the NUL
}

}  // namespace
}  // namespace quilbo
