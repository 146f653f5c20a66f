// Counted strings: at most 255 8-bit characters with their length, the
// form of command-line arguments, fixed texts and found entry names.
#ifndef QUILBO_TEXTIO_COUNTED_STRING_H_
#define QUILBO_TEXTIO_COUNTED_STRING_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quilbo {

inline constexpr int kCountedMax = 255;

struct CountedString {
  std::uint8_t length;
  char chars[kCountedMax];
};

inline std::string_view View(const CountedString& text) {
  return {text.chars, text.length};
}

// The first 255 bytes of text.
inline CountedString ToCounted(std::string_view text) {
  CountedString result{};
  const std::size_t n = text.size() < kCountedMax ? text.size() : kCountedMax;
  if (n != 0) std::memcpy(result.chars, text.data(), n);
  result.length = static_cast<std::uint8_t>(n);
  return result;
}

}  // namespace quilbo

#endif  // QUILBO_TEXTIO_COUNTED_STRING_H_
