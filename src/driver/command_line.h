// The program's arguments, cut out of the command line by its own rules.
#ifndef QUILBO_DRIVER_COMMAND_LINE_H_
#define QUILBO_DRIVER_COMMAND_LINE_H_

#include <cstdint>

#include "textio/counted_string.h"

namespace quilbo {

// The scanning rules over a command line given as one string (the program
// name first). Pure: every platform tests them.
std::int32_t CountArguments(const char* commandLine);
CountedString ArgumentAt(const char* commandLine, std::int32_t index);

std::int32_t ArgCount();
CountedString ArgAt(std::int32_t index);  // 0: the executable's full path

}  // namespace quilbo

#endif  // QUILBO_DRIVER_COMMAND_LINE_H_
