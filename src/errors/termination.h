// The failure report and every end of the process.
#ifndef QUILBO_ERRORS_TERMINATION_H_
#define QUILBO_ERRORS_TERMINATION_H_

#include <cstdint>

#include "errors/exceptions.h"

namespace quilbo {

using ExitRoutine = void (*)();

// One routine run by ExitProgram before the process ends.
extern ExitRoutine ExitStep;

// Created at start-up; what every memory exhaustion raises.
EOutOfMemory& ReservedOutOfMemory();

// Installs the reserved exception and the report; from then on failures
// end through ReportUnhandled instead of the "Runtime error" line.
void InstallFailureReporting();
bool FailureReportingInstalled();

// Writes the note on standard error and the two-line report to standard
// output, then ExitProgram(1).
[[noreturn]] void ReportUnhandled(const Exception& exception,
                                  const FailureSite& site);

// Runs the exit step, then ends the process with code.
[[noreturn]] void ExitProgram(std::int32_t code);

// Runs the exit step, then ends the process as the request to stop (a
// signal, a console event) would have ended it untouched.
[[noreturn]] void ExitStopped(std::int32_t stop);

// The end of a failure before start-up completed: the exit step, then
// "Runtime error <code> at <address> TID=1." on standard error.
[[noreturn]] void ExitProgramAt(std::int32_t code, const void* location);

// Builds the report text (with CR LF line ends) into out; returns its
// length. Exposed so the format can be checked without ending a process.
std::uint32_t FormatReport(const Exception& exception, const FailureSite& site,
                           char* out, std::uint32_t size);

}  // namespace quilbo

#endif  // QUILBO_ERRORS_TERMINATION_H_
