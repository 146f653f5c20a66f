// Text and number conversions over counted and long strings. Pure; ASCII
// case folding only.
#ifndef QUILBO_DRIVER_TEXT_OPS_H_
#define QUILBO_DRIVER_TEXT_OPS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "textio/counted_string.h"

namespace quilbo {

struct ParsedInteger {
  std::int32_t value;
  std::int32_t errorPosition;  // 0 when the whole text was accepted
};

ParsedInteger ParseInteger(std::string_view text);
CountedString SubText(const CountedString& text, std::int32_t index,
                      std::int32_t count);
std::string SubText(std::string_view text, std::int32_t index,
                    std::int32_t count);
std::int32_t FindText(std::string_view needle, std::string_view haystack);
std::string UpperText(std::string_view text);
bool TextEquals(const CountedString& a, const CountedString& b);
bool TextEquals(std::string_view a, std::string_view b);
CountedString JoinText(const CountedString& a, const CountedString& b);
std::string ToLongText(const CountedString& text);

}  // namespace quilbo

#endif  // QUILBO_DRIVER_TEXT_OPS_H_
