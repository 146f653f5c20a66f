// Text and number conversions. Every operation is a pure function
// of its arguments over 8-bit bytes; no locale, no state, no IoStatus.
#include "driver/text_ops.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace quilbo {

namespace {

// A 1-based text position as the interfaces give it (32 bits). Texts longer
// than 2^31 - 1 bytes cannot name their far positions; they saturate.
std::int32_t Position(std::size_t oneBased) {
  constexpr auto kMax =
      static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(std::min(oneBased, kMax));
}

// The digit value of byte c in the base, or -1 when c is not such a digit.
int DigitValue(char c, bool hexadecimal) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!hexadecimal) return -1;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

ParsedInteger RejectAt(std::size_t zeroBasedIndex) {
  return {0, Position(zeroBasedIndex + 1)};
}

// The part of text that SubText takes: its start (0-based) and its length.
// Computed in 64 bits so no index or count can overflow.
struct Span {
  std::size_t start;
  std::size_t length;
};

Span SubSpan(std::size_t textLength, std::int32_t index, std::int32_t count) {
  const std::int64_t first = index < 1 ? 1 : index;  // the count is kept
  const std::int64_t wanted = count < 0 ? 0 : count;
  const auto length = static_cast<std::int64_t>(textLength);
  if (first > length) return {0, 0};
  const std::int64_t taken = std::min(wanted, length - first + 1);
  return {static_cast<std::size_t>(first - 1), static_cast<std::size_t>(taken)};
}

}  // namespace

ParsedInteger ParseInteger(std::string_view text) {
  const std::size_t n = text.size();
  if (n == 0) return {0, 1};

  std::size_t i = 0;
  while (i < n && text[i] == ' ') ++i;  // byte 32 only
  if (i == n) return RejectAt(i);

  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
    if (i == n) return RejectAt(i);
  }

  bool hexadecimal = false;
  if (text[i] == '$') {
    hexadecimal = true;
    ++i;
    if (i == n) return RejectAt(i);
  }

  // Accumulated in 64 bits: the checks below keep it within 32.
  std::uint64_t value = 0;
  for (; i < n; ++i) {
    const int digit = DigitValue(text[i], hexadecimal);
    if (digit < 0) return RejectAt(i);
    const auto d = static_cast<std::uint64_t>(digit);
    if (hexadecimal) {
      if ((value & 0xF0000000u) != 0) return RejectAt(i);
      value = value * 16 + d;
    } else {
      value = value * 10 + d;
      if (value > 2147483647u) return RejectAt(i);
    }
  }

  auto bits = static_cast<std::uint32_t>(value);
  if (negative) bits = 0u - bits;  // 32-bit two's complement
  return {static_cast<std::int32_t>(bits), 0};
}

CountedString SubText(const CountedString& text, std::int32_t index,
                      std::int32_t count) {
  const Span span = SubSpan(text.length, index, count);
  return ToCounted(View(text).substr(span.start, span.length));
}

std::string SubText(std::string_view text, std::int32_t index,
                    std::int32_t count) {
  const Span span = SubSpan(text.size(), index, count);
  return std::string(text.substr(span.start, span.length));
}

std::int32_t FindText(std::string_view needle, std::string_view haystack) {
  if (needle.empty() || haystack.size() < needle.size()) return 0;
  const std::size_t at = haystack.find(needle);
  return at == std::string_view::npos ? 0 : Position(at + 1);
}

std::string UpperText(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

bool TextEquals(const CountedString& a, const CountedString& b) {
  return View(a) == View(b);
}

bool TextEquals(std::string_view a, std::string_view b) { return a == b; }

CountedString JoinText(const CountedString& a, const CountedString& b) {
  CountedString result{};
  std::copy_n(a.chars, a.length, result.chars);
  const std::size_t room = static_cast<std::size_t>(kCountedMax) - a.length;
  const std::size_t taken = std::min<std::size_t>(b.length, room);
  std::copy_n(b.chars, taken, result.chars + a.length);
  result.length = static_cast<std::uint8_t>(a.length + taken);
  return result;
}

std::string ToLongText(const CountedString& text) {
  return std::string(View(text));
}

}  // namespace quilbo
