// The program's arguments, cut out of the command line by its own rules.
#ifndef QUILBO_DRIVER_COMMAND_LINE_H_
#define QUILBO_DRIVER_COMMAND_LINE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "textio/counted_string.h"

namespace quilbo {

// The scanning rules over a command line given as one string (the program
// name first), in the platform's form of names. Pure: every platform tests
// them. CountArguments is the number of tokens minus one (-1 for no token; a
// null line has none). ArgumentAt gives the token with that index cut to its
// first 255 characters (index 0: the program name as typed), or the empty
// string when there is none. A character is what the platform's limits
// count (CharacterCount): Windows arguments hold 255 UTF-16 characters.
std::int32_t CountArguments(const char* commandLine);
std::string ArgumentAt(const char* commandLine, std::int32_t index);
// The whole length in characters of the token with that index (0 when
// there is none).
std::size_t ArgumentLength(const char* commandLine, std::int32_t index);

// From the platform, fetched afresh by every call: the command line scanned
// by the rules above where the platform hands one over (Os().commandLine()),
// else its split vector (Os().splitArguments()) without its empty entries:
// ArgCount counts the non-empty argv[1...], ArgAt(i) is the i-th of them cut
// to 255.
std::int32_t ArgCount();
std::string ArgAt(std::int32_t index);  // 0: the executable's full path
// Whether the argument with that index (1 to ArgCount) is longer than the
// 255 characters ArgAt gives of it.
bool ArgIsCut(std::int32_t index);

}  // namespace quilbo

#endif  // QUILBO_DRIVER_COMMAND_LINE_H_
