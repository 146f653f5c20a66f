// Files read and written as raw bytes in caller-sized blocks, unbuffered.
// Failures go to IoStatus; no operation looks at IoStatus first.
#ifndef QUILBO_FS_BLOCK_FILE_H_
#define QUILBO_FS_BLOCK_FILE_H_

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace quilbo {

enum class BlockMode : std::uint8_t { kNeverAttached = 0, kClosed, kOpen };

struct BlockFile {
  OsHandle handle;
  BlockMode mode;
  std::uint32_t RecordSize;
  char name[kPathBytes];
  bool nameTooLong;  // the open fails rather than use a cut name
};

void AttachName(BlockFile& file, std::string_view name);
void OpenRead(BlockFile& file, std::uint32_t recordSize);
void OpenNew(BlockFile& file, std::uint32_t recordSize);
// Opens file on handle, a file the caller opened or made (one without a
// name, one opened inside a folder); the BlockFile closes it. The name
// attached before names it in the notes of its failures.
void OpenHandle(BlockFile& file, OsHandle handle, std::uint32_t recordSize);
void RenameFile(BlockFile& file, std::string_view newName);
// Positions are 64-bit so files of any size can be cut exactly.
void SeekTo(BlockFile& file, std::int64_t record);
bool AtEnd(BlockFile& file);
void ReadBlock(BlockFile& file, void* buffer, std::uint32_t count,
               std::uint32_t* done);
void WriteBlock(BlockFile& file, const void* buffer, std::uint32_t count,
                std::uint32_t* done);
void CloseStream(BlockFile& file);
// Closes file, when open, without a word: for a file only read, or given up
// while another failure is reported, whose note a failed close must not
// replace.
void DiscardFile(BlockFile& file);
// The file's size in records (whole ones), -1 after a failure.
std::int64_t SizeOf(BlockFile& file);
// Writes the file's bytes through to the disk.
void FlushFile(BlockFile& file);

}  // namespace quilbo

#endif  // QUILBO_FS_BLOCK_FILE_H_
