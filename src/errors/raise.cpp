#include "errors/raise.h"

#include "errors/exceptions.h"
#include "errors/termination.h"

namespace quilbo {

void RaiseError(const char* message, std::source_location where) {
  const FailureSite site{__builtin_return_address(0), where.file_name(),
                         where.line()};
  if (!FailureReportingInstalled()) ExitProgramAt(1, site.address);
  throw Exception(message, site);
}

}  // namespace quilbo
