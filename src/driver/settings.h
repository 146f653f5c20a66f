// The parsed command line.
#ifndef QUILBO_DRIVER_SETTINGS_H_
#define QUILBO_DRIVER_SETTINGS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "textio/counted_string.h"

namespace quilbo {

struct RunSettings {
  CountedString pattern;
  std::string ArchiveDir = "Archive";
  bool DeleteOriginals = false;
  std::int32_t TruncateKb = 0;  // only values above 0 enable truncation
  std::string PatternDir;
};

// The number at the start of text: the whole text when it parses, else
// the part before the first rejected character.
std::int32_t ParseLeadingNumber(std::string_view text);

// What an argument after the pattern turned out to be.
enum class ArgumentRole : std::uint8_t { kDelete, kTruncate, kFolder };

// Applies one argument after the pattern: /D, /Txxxx or the folder name.
ArgumentRole ApplyOption(RunSettings& settings, const CountedString& argument);

}  // namespace quilbo

#endif  // QUILBO_DRIVER_SETTINGS_H_
