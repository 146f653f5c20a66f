// The parsed command line.
#ifndef QUILBO_DRIVER_SETTINGS_H_
#define QUILBO_DRIVER_SETTINGS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quilbo {

struct RunSettings {
  std::string pattern;  // as typed, in the platform's form
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
ArgumentRole ApplyOption(RunSettings& settings, std::string_view argument);

}  // namespace quilbo

#endif  // QUILBO_DRIVER_SETTINGS_H_
