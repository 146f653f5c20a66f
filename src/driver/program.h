// The process around the driver: start-up, the one top-level handler that
// turns an escaping exception into the failure report, and the end.
#ifndef QUILBO_DRIVER_PROGRAM_H_
#define QUILBO_DRIVER_PROGRAM_H_

namespace quilbo {

// The driver: reads the command line, does the run, ends the process.
[[noreturn]] void RunDriver();

// Start-up, then body; whatever way body ends, the process ends here.
[[noreturn]] void RunProgram(void (*body)());

}  // namespace quilbo

#endif  // QUILBO_DRIVER_PROGRAM_H_
