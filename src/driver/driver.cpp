#include <cstring>

#include "driver/program.h"
#include "errors/io_status.h"
#include "errors/termination.h"
#include "platform/platform.h"

namespace quilbo {

void RunDriver() {
  const char line[] = "Quilbo v1.1\r\n";
  std::uint32_t done = 0;
  if (!Os().writeFile(Os().stdHandle(StdStream::kOutput), line,
                      sizeof line - 1, &done))
    StoreIoFailure(Os().lastError());
  CheckIo();
  ExitProgram(5);
}

}  // namespace quilbo
