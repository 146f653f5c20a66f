#include "archive/kept_log.h"

#include <cstdio>

#include "errors/notes.h"
#include "fs/file_helpers.h"
#include "platform/platform.h"

namespace quilbo {

void NoteKeptLog(std::string_view log, std::int32_t code) {
  char reason[256];
  FindData found{};
  if (code == kErrSharingViolation) {
    // What the deletion refuses: a writer might add lines after the copy.
    std::snprintf(reason, sizeof reason,
                  "another program holds it open or was still writing to it");
  } else if (LookUpFile(log, &found) && (found.attributes & kAttrReadOnly) != 0) {
    std::snprintf(reason, sizeof reason, "it is read-only");
  } else {
    DescribeFailure(code, reason, sizeof reason);
  }
  WriteNote("/D kept %.*s (%s): its text will be archived again next run",
            static_cast<int>(log.size()), log.data(), reason);
}

}  // namespace quilbo
