#include "archive/archive_log.h"
#include "errors/io_status.h"
#include "fs/block_file.h"
#include "fs/folder_lock.h"

namespace quilbo {

void FlushArchive(std::string_view target, bool created) {
  BlockFile archive{};
  AttachName(archive, target);
  OpenRead(archive, 1);
  CheckIo();
  FlushFile(archive);
  CheckIo();
  CloseStream(archive);
  CheckIo();
  // An archive made by this run exists on the disk only once its folder
  // says so.
  if (created) {
    FlushArchiveFolder();
    CheckIo();
  }
}

}  // namespace quilbo
