#include "driver/program.h"

#include <exception>
#include <new>

#include "errors/exceptions.h"
#include "errors/io_status.h"
#include "errors/termination.h"
#include "textio/console.h"

namespace quilbo {

namespace {

// Allocation failures anywhere, the standard library's included, raise the
// reserved exception so that reporting them needs no memory.
void OnOutOfMemory() { FailOutOfMemory(std::source_location::current()); }

}  // namespace

void RunProgram(void (*body)()) {
  OpenStandardStreams();
  InstallFailureReporting();
  std::set_new_handler(OnOutOfMemory);
  try {
    body();
    ExitProgram(0);
  } catch (const Exception& failure) {
    ReportUnhandled(failure, failure.Site());
  } catch (const std::bad_alloc&) {
    ReportUnhandled(ReservedOutOfMemory(), ReservedOutOfMemory().Site());
  } catch (const std::exception& failure) {
    ReportUnhandled(Exception(failure.what(), FailureSite{nullptr, nullptr, 0}),
                    FailureSite{nullptr, nullptr, 0});
  }
}

}  // namespace quilbo
