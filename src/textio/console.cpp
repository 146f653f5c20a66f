#include "textio/console.h"

#include "errors/termination.h"

namespace quilbo {

void CloseStandardStreams() {}

void OpenStandardStreams() { ExitStep = CloseStandardStreams; }

}  // namespace quilbo
