#include "driver/text_ops.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace quilbo {
namespace {

struct ParseCase {
  const char* text;
  std::int32_t value;
  std::int32_t errorPosition;
};

void ExpectParses(const ParseCase& c) {
  const ParsedInteger result = ParseInteger(c.text);
  EXPECT_EQ(result.value, c.value) << "text: '" << c.text << "'";
  EXPECT_EQ(result.errorPosition, c.errorPosition) << "text: '" << c.text << "'";
}

// Accepted texts, rejected ones and where they are rejected.
TEST(ParseInteger, AcceptsAndRejectsAtTheRightPosition) {
  const ParseCase cases[] = {
      {"1000", 1000, 0},
      {"1000kb", 0, 5},
      {"", 0, 1},
      {"k", 0, 1},
      {"-5", -5, 0},
      {"+7", 7, 0},
      {"007", 7, 0},
      {" 12", 12, 0},
      {"12 ", 0, 3},
      {"\t12", 0, 1},
      {"   ", 0, 4},
      {"-", 0, 2},
      {"$", 0, 2},
      {"- 5", 0, 2},
      {"$-5", 0, 2},
      {"12 34", 0, 3},
      {"1e3", 0, 2},
      {"0x10", 0, 2},
      {"$10", 16, 0},
      {"$ff", 255, 0},
      {"$FFFFFFFF", -1, 0},
      {"$123456789", 0, 10},
      {"2147483647", 2147483647, 0},
      {"2147483648", 0, 10},
      {"-2147483647", -2147483647, 0},
      {"-2147483648", 0, 11},
      {"4294967296", 0, 10},
      {"99999999999", 0, 10},
  };
  for (const ParseCase& c : cases) ExpectParses(c);
}

TEST(ParseInteger, SpacesSignsAndDollarPositions) {
  const ParseCase cases[] = {
      {"  -", 0, 4},     // after the sign, counting the skipped spaces
      {"  $", 0, 4},     // after the "$"
      {" -$", 0, 4},     // after sign and "$"
      {"+", 0, 2},
      {"+$", 0, 3},
      {"-$", 0, 3},
      {"--5", 0, 2},     // a second sign
      {"+-5", 0, 2},
      {"-+5", 0, 2},
      {"$$1", 0, 2},
      {"1$", 0, 2},      // "$" after the first digit
      {"$1$", 0, 3},
      {"1-", 0, 2},
      {"  12x", 0, 5},   // positions count the skipped spaces
      {"   7", 7, 0},
      {"\n1", 0, 1},     // only byte 32 is skipped
      {"\x01" "1", 0, 1},
      {"\xA0" "1", 0, 1},
      {"1\xB9", 0, 2},   // a superscript digit in Latin-1 is no digit
      {"0", 0, 0},
      {"-0", 0, 0},
      {"+0", 0, 0},
      {"$0", 0, 0},
      {"00000000000000000012", 12, 0},  // leading zeros are free
  };
  for (const ParseCase& c : cases) ExpectParses(c);
}

TEST(ParseInteger, DecimalDigitsOnlyInDecimal) {
  const ParseCase cases[] = {
      {"12a", 0, 3}, {"1A", 0, 2}, {"F", 0, 1}, {"9:", 0, 2}, {"/1", 0, 1},
  };
  for (const ParseCase& c : cases) ExpectParses(c);
}

TEST(ParseInteger, HexadecimalDigitsInBothCases) {
  const ParseCase cases[] = {
      {"$0123456789", 0, 11},  // nine significant digits
      {"$01234567", 0x01234567, 0},
      {"$89abcdef", static_cast<std::int32_t>(0x89ABCDEFu), 0},
      {"$89ABCDEF", static_cast<std::int32_t>(0x89ABCDEFu), 0},
      {"$aBcDeF", 0xABCDEF, 0},
      {"$g", 0, 2},
      {"$1G", 0, 3},
      {"$FFG", 0, 4},
      {"+$10", 16, 0},
      {"-$10", -16, 0},
      {" $7fffffff", 2147483647, 0},
      {"$000000000000FFFFFFFF", -1, 0},  // leading zeros are free
      {"$7FFFFFFF", 2147483647, 0},
  };
  for (const ParseCase& c : cases) ExpectParses(c);
}

// Decimal: the error is at the digit that takes the magnitude past
// 2147483647; the limit is on the magnitude, before the sign.
TEST(ParseInteger, DecimalOverflowPositions) {
  const ParseCase cases[] = {
      {"2147483649", 0, 10},
      {"2147483650", 0, 10},
      {"2147483700", 0, 10},
      {"3000000000", 0, 10},
      {"10000000000", 0, 11},  // 1000000000 fits; the 11th digit overflows
      {"21474836470", 0, 11},
      {"-2147483649", 0, 11},
      {"-99999999999", 0, 11},
      {" 2147483648", 0, 11},
      {"+2147483648", 0, 11},
      {"  -2147483648", 0, 13},
      {"0002147483647", 2147483647, 0},
      {"0002147483648", 0, 13},
      {"99999999999999999999", 0, 10},
      {"2147483648kb", 0, 10},  // the overflow is found before the letters
  };
  for (const ParseCase& c : cases) ExpectParses(c);
}

// Hexadecimal: before a digit is added, a set bit among the top four ends
// the parse at that digit; eight significant digits always fit.
TEST(ParseInteger, HexadecimalOverflowPositions) {
  const ParseCase cases[] = {
      {"$100000000", 0, 10},
      {"$FFFFFFFF0", 0, 10},
      {"$0FFFFFFFF", -1, 0},
      {"$10000000", 0x10000000, 0},
      {"$1000000000", 0, 10},
      {"-$100000000", 0, 11},
      {"  $123456789", 0, 12},
      {"$F0000000", static_cast<std::int32_t>(0xF0000000u), 0},
      {"$0F0000000", static_cast<std::int32_t>(0xF0000000u), 0},
      {"$F00000000", 0, 10},
  };
  for (const ParseCase& c : cases) ExpectParses(c);
}

// The 32 bits are a two's-complement pattern, and "-" negates it in 32 bits.
TEST(ParseInteger, HexadecimalIsTwosComplementAndNegationWraps) {
  const ParseCase cases[] = {
      {"$FFFFFFFF", -1, 0},
      {"-$FFFFFFFF", 1, 0},
      {"$80000000", INT32_MIN, 0},
      {"-$80000000", INT32_MIN, 0},
      {"$80000001", INT32_MIN + 1, 0},
      {"-$80000001", INT32_MAX, 0},
      {"-$7FFFFFFF", -INT32_MAX, 0},
      {"-$1", -1, 0},
      {"-$0", 0, 0},
      {"+$FFFFFFFF", -1, 0},
  };
  for (const ParseCase& c : cases) ExpectParses(c);
}

TEST(ParseInteger, TextWithZeroBytesIsCountedByItsLength) {
  const std::string text("12\0" "3", 4);
  const ParsedInteger result = ParseInteger(text);
  EXPECT_EQ(result.value, 0);
  EXPECT_EQ(result.errorPosition, 3);
}

TEST(ParseInteger, LongTextsKeepTheirPositions) {
  std::string text(1000, ' ');
  text += "42";
  EXPECT_EQ(ParseInteger(text).value, 42);
  EXPECT_EQ(ParseInteger(text).errorPosition, 0);
  text += "!";
  EXPECT_EQ(ParseInteger(text).value, 0);
  EXPECT_EQ(ParseInteger(text).errorPosition, 1003);
  const std::string blanks(300, ' ');
  EXPECT_EQ(ParseInteger(blanks).errorPosition, 301);
}

struct SubCase {
  const char* text;
  std::int32_t index;
  std::int32_t count;
  const char* expected;
};

const SubCase kSubCases[] = {
    // The documented examples.
    {"abcdef", 0, 3, "abc"},
    {"abcdef", 5, 10, "ef"},
    {"abcdef", 7, 1, ""},
    {"abcdef", 2, -1, ""},
    {"/T1000", 3, 250, "1000"},
    {"/T", 3, 250, ""},
    // Index below 1 counts as 1, the count not reduced.
    {"abcdef", -5, 3, "abc"},
    {"abcdef", INT32_MIN, 2, "ab"},
    {"abcdef", 1, 0, ""},
    {"abcdef", 1, 6, "abcdef"},
    {"abcdef", 1, 7, "abcdef"},
    {"abcdef", 1, INT32_MAX, "abcdef"},
    {"abcdef", 6, 1, "f"},
    {"abcdef", 6, INT32_MAX, "f"},
    {"abcdef", 3, 2, "cd"},
    {"abcdef", INT32_MAX, INT32_MAX, ""},
    {"abcdef", 2, INT32_MIN, ""},
    {"", 1, 1, ""},
    {"", 0, 0, ""},
    {"", -1, 5, ""},
    {"\x80\xFF" "a", 2, 1, "\xFF"},
};

TEST(SubText, LongStrings) {
  for (const SubCase& c : kSubCases) {
    EXPECT_EQ(SubText(std::string_view(c.text), c.index, c.count), c.expected)
        << c.text << " " << c.index << " " << c.count;
  }
}

TEST(SubText, CountedStrings) {
  for (const SubCase& c : kSubCases) {
    const CountedString result = SubText(ToCounted(c.text), c.index, c.count);
    EXPECT_EQ(View(result), c.expected)
        << c.text << " " << c.index << " " << c.count;
  }
}

TEST(SubText, FullLengthCountedStringAndLongStringBeyond255) {
  const std::string text(255, 'q');
  const CountedString counted = ToCounted(text);
  EXPECT_EQ(View(SubText(counted, 1, 255)), text);
  EXPECT_EQ(View(SubText(counted, 255, 5)), "q");
  EXPECT_EQ(SubText(counted, 256, 5).length, 0);

  std::string longer(1000, 'a');
  longer += "xyz";
  EXPECT_EQ(SubText(std::string_view(longer), 1001, 3), "xyz");
  EXPECT_EQ(SubText(std::string_view(longer), 1, 2000).size(), 1003u);
  EXPECT_EQ(SubText(std::string_view(longer), 1004, 1), "");
}

TEST(SubText, KeepsZeroBytes) {
  const std::string text("a\0b", 3);
  EXPECT_EQ(SubText(std::string_view(text), 2, 2), std::string("\0b", 2));
}

struct FindCase {
  const char* needle;
  const char* haystack;
  std::int32_t expected;
};

TEST(FindText, FirstOccurrenceCaseSensitive) {
  const FindCase cases[] = {
      // The documented examples.
      {"/T", "/T1000", 1},
      {"/T", "X/T", 2},
      {"/T", "/t1000", 0},
      {"/T", "/", 0},
      {"", "/T1000", 0},
      {"", "", 0},
      {"", "x", 0},
      // More.
      {"/T", "", 0},
      {"abc", "ab", 0},
      {"abc", "abc", 1},
      {"b", "abcb", 2},
      {"aab", "aaab", 2},
      {"/T", "/T/T", 1},
      {"\xE9", "caf\xE9", 4},
      {"\xC9", "caf\xE9", 0},
      {"x", "abc", 0},
      {"c", "abc", 3},
  };
  for (const FindCase& c : cases)
    EXPECT_EQ(FindText(c.needle, c.haystack), c.expected)
        << "'" << c.needle << "' in '" << c.haystack << "'";
}

TEST(FindText, LongHaystack) {
  std::string haystack(5000, '-');
  haystack += "/T";
  EXPECT_EQ(FindText("/T", haystack), 5001);
}

TEST(UpperText, AsciiLettersOnly) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"/t1000", "/T1000"},
      {"", ""},
      {"abcxyz", "ABCXYZ"},
      {"ABC", "ABC"},
      {"`az{", "`AZ{"},  // the bytes around "a" and "z"
      {"@AZ[", "@AZ["},
      {"caf\xE9", "CAF\xE9"},  // an accented letter is unchanged
      {"\xE0\xFF\x80\x7F", "\xE0\xFF\x80\x7F"},
      {std::string("a\0b", 3), std::string("A\0B", 3)},
  };
  for (const Case& c : cases) {
    const std::string result = UpperText(c.text);
    EXPECT_EQ(result, c.expected) << c.text;
    EXPECT_EQ(result.size(), c.text.size());
  }
}

TEST(UpperText, EveryByteValue) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string upper = UpperText(all);
  ASSERT_EQ(upper.size(), 256u);
  for (int b = 0; b < 256; ++b) {
    const int expected = (b >= 'a' && b <= 'z') ? b - 32 : b;
    EXPECT_EQ(static_cast<unsigned char>(upper[static_cast<std::size_t>(b)]), expected)
        << "byte " << b;
  }
}

struct EqualsCase {
  const char* a;
  const char* b;
  bool expected;
};

const EqualsCase kEqualsCases[] = {
    // The documented examples.
    {"/D", "/D", true},
    {"/D", "/d", false},
    {"/D", "/D ", false},
    {"/D", "/DX", false},
    // More.
    {"", "", true},
    {"", "a", false},
    {" /D", "/D", false},
    {"\xE9", "\xC9", false},
    {"\xE9", "\xE9", true},
    {"abc", "abd", false},
    {"abc", "ab", false},
};

TEST(TextEquals, CountedStrings) {
  for (const EqualsCase& c : kEqualsCases) {
    EXPECT_EQ(TextEquals(ToCounted(c.a), ToCounted(c.b)), c.expected)
        << "'" << c.a << "' '" << c.b << "'";
    EXPECT_EQ(TextEquals(ToCounted(c.b), ToCounted(c.a)), c.expected);
  }
}

TEST(TextEquals, LongStrings) {
  for (const EqualsCase& c : kEqualsCases) {
    EXPECT_EQ(TextEquals(std::string_view(c.a), std::string_view(c.b)), c.expected)
        << "'" << c.a << "' '" << c.b << "'";
  }
  const std::string big(1000, 'z');
  EXPECT_TRUE(TextEquals(big, std::string(1000, 'z')));
  EXPECT_FALSE(TextEquals(big, std::string(999, 'z')));
  EXPECT_FALSE(TextEquals(std::string("a\0b", 3), std::string("a\0c", 3)));
  EXPECT_FALSE(TextEquals(std::string("a\0", 2), std::string("a")));
}

TEST(TextEquals, IgnoresBytesBeyondTheLength) {
  CountedString a = ToCounted("ab");
  CountedString b = ToCounted("ab");
  a.chars[2] = 'x';
  b.chars[2] = 'y';
  EXPECT_TRUE(TextEquals(a, b));
}

TEST(JoinText, AppendsAndCutsAt255) {
  const std::string first(250, 'a');
  const std::string second = "0123456789";
  const CountedString joined = JoinText(ToCounted(first), ToCounted(second));
  ASSERT_EQ(joined.length, 255);
  EXPECT_EQ(View(joined), first + "01234");  // the first five of the second

  EXPECT_EQ(View(JoinText(ToCounted("Usage: "), ToCounted("q.exe"))),
            "Usage: q.exe");
  EXPECT_EQ(View(JoinText(ToCounted(""), ToCounted(""))), "");
  EXPECT_EQ(View(JoinText(ToCounted("a"), ToCounted(""))), "a");
  EXPECT_EQ(View(JoinText(ToCounted(""), ToCounted("b"))), "b");
  EXPECT_EQ(View(JoinText(ToCounted("\xE9"), ToCounted("\xFF"))), "\xE9\xFF");

  const std::string full(255, 'f');
  EXPECT_EQ(View(JoinText(ToCounted(full), ToCounted("x"))), full);
  const std::string part(245, 'p');
  const CountedString exact = JoinText(ToCounted(part), ToCounted(second));
  EXPECT_EQ(View(exact), part + second);
  EXPECT_EQ(exact.length, 255);
  const CountedString under = JoinText(ToCounted(std::string(244, 'p')), ToCounted(second));
  EXPECT_EQ(under.length, 254);
  EXPECT_EQ(View(JoinText(ToCounted(""), ToCounted(full))), full);
}

TEST(ToLongText, SameCharacters) {
  EXPECT_EQ(ToLongText(ToCounted("")), "");
  EXPECT_TRUE(ToLongText(CountedString{}).empty());
  EXPECT_EQ(ToLongText(ToCounted("/T1000")), "/T1000");
  EXPECT_EQ(ToLongText(ToCounted("\x01\x7F\x80\xFF")), "\x01\x7F\x80\xFF");
  const std::string full(255, 'w');
  EXPECT_EQ(ToLongText(ToCounted(full)), full);
  const std::string zero("a\0b", 3);
  EXPECT_EQ(ToLongText(ToCounted(zero)), zero);
}

}  // namespace
}  // namespace quilbo
