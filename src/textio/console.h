// The process's standard streams and the console item writers.
#ifndef QUILBO_TEXTIO_CONSOLE_H_
#define QUILBO_TEXTIO_CONSOLE_H_

#include <cstdint>

#include "textio/text_stream.h"

namespace quilbo {

extern TextStream Output;
extern TextStream Input;

// Opens Input and Output and puts CloseStandardStreams into ExitStep.
void OpenStandardStreams();
void CloseStandardStreams();

void WriteNumber(TextStream& stream, std::int32_t value, std::int32_t width);
void WriteChar(TextStream& stream, char ch, std::int32_t width);

}  // namespace quilbo

#endif  // QUILBO_TEXTIO_CONSOLE_H_
