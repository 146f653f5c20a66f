// The process's standard streams and the console item writers.
#ifndef QUILBO_TEXTIO_CONSOLE_H_
#define QUILBO_TEXTIO_CONSOLE_H_

namespace quilbo {

// Opens Input and Output and puts CloseStandardStreams into ExitStep.
void OpenStandardStreams();
void CloseStandardStreams();

}  // namespace quilbo

#endif  // QUILBO_TEXTIO_CONSOLE_H_
