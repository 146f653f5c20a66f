#include <string>

#include "archive/archive_log.h"
#include "errors/io_status.h"
#include "fs/block_file.h"
#include "fs/file_helpers.h"
#include "fs/folder_lock.h"
#include "fs/search.h"

namespace quilbo {

std::int64_t FileSizeOf(std::string_view path) {
  // The one entry of that name, never a pattern: a name holding '*' or '?'
  // must not take another archive's size.
  FindData found{};
  if (!LookUpFile(path, &found) || (found.attributes & kAttrDirectory) != 0)
    return 0;
  return static_cast<std::int64_t>(found.size);
}

bool TruncateArchive(std::string_view target, std::int32_t truncateKb) {
  const std::int64_t limit = static_cast<std::int64_t>(truncateKb) * 1024;
  const std::int64_t size = FileSizeOf(target);
  if (limit >= size) return false;

  const std::string tmp = std::string(target) + ".tmp";
  BlockFile reader{};
  BlockFile writer{};
  // The rename's failure stays pending: the open below decides.
  AttachName(reader, target);
  RenameFile(reader, tmp);
  AttachName(reader, tmp);
  AttachName(writer, target);
  OpenRead(reader, 1);
  if (TakeIoStatus() != 0) {
    // Put the archive back under its own name, uncut.
    AttachName(reader, tmp);
    RenameFile(reader, target);
    CheckIo();
    return false;
  }

  SeekTo(reader, size - limit);
  CheckIo();
  OpenNew(writer, 1);
  RefuseLinkedArchive(target);
  CheckIo();
  // The new file keeps the access of the archive it replaces.
  Os().copyAccess(reader.handle, writer.handle);
  void* buffer = GetMemory(kTruncateBlock);
  for (;;) {
    const bool atEnd = AtEnd(reader);
    CheckIo();
    if (atEnd) break;
    std::uint32_t got = 0;
    ReadBlock(reader, buffer, kTruncateBlock, &got);
    CheckIo();
    // Reading nothing while not at the end means the position lies beyond
    // a file that shrank under us: stop rather than loop for ever.
    if (got == 0) break;
    // No count result: a short write is a failure ("Disk full"), never a
    // silently shorter archive whose whole copy is then removed.
    WriteBlock(writer, buffer, got, nullptr);
    CheckIo();
  }
  // The kept bytes reach the disk, and the new archive's name with them,
  // before their only other copy goes.
  FlushFile(writer);
  CheckIo();
  CloseStream(reader);
  CheckIo();
  CloseStream(writer);
  CheckIo();
  ReleaseMemory(buffer);
  FlushArchiveFolder();
  CheckIo();
  RemoveFile(tmp);
  return true;
}

}  // namespace quilbo
