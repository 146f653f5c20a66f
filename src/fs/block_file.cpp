#include "fs/block_file.h"

#include <cstring>
#include <limits>

#include "errors/io_status.h"
#include "errors/notes.h"

namespace quilbo {

namespace {

constexpr std::size_t kNameMax = sizeof(BlockFile{}.name) - 1;

// Copies text up to its first NUL, at most the platform's longest path;
// true when it had to be cut.
bool CopyName(std::string_view text, char (&out)[kNameMax + 1]) {
  const std::string_view name = text.substr(0, text.find('\0'));
  const std::size_t kept = CharactersPrefix(name, kMaxPath - 1, kNameMax);
  if (kept != 0) std::memcpy(out, name.data(), kept);
  out[kept] = '\0';
  return kept < name.size();
}

// Failures of the file's own steps name it for the failure report's note.
void StoreFailure(const BlockFile& file, std::int32_t code, const char* step) {
  StoreIoFailureOn(code, step, file.name);
}

// The platform call that just failed, with the system's own reason.
void StoreLastError(const BlockFile& file, const char* step) {
  StoreIoFailureOn(FailedCall(), step, file.name);
}

// Checks an open may go ahead, closing the file first when it is open.
bool MayOpen(BlockFile& file, std::uint32_t recordSize) {
  // Positions and counts are divided by the record size.
  if (recordSize == 0) {
    StoreIoFailure(kErrInvalidParameter);
    return false;
  }
  if (file.mode == BlockMode::kOpen) {
    CloseStream(file);
  } else if (file.mode != BlockMode::kClosed) {
    StoreIoFailure(kIoNotAttached);
    return false;
  }
  return true;
}

// The file is open on handle.
void Take(BlockFile& file, OsHandle handle, std::uint32_t recordSize) {
  file.handle = handle;
  file.mode = BlockMode::kOpen;
  file.RecordSize = recordSize;
}

void Open(BlockFile& file, std::uint32_t recordSize, FileCreation creation,
          StdStream standard) {
  if (!MayOpen(file, recordSize)) return;
  const PlatformApi& os = Os();
  OsHandle handle;
  if (file.name[0] == '\0') {
    handle = os.stdHandle(standard);
  } else {
    // Opening the cut name could reach another file.
    const char* step = creation == FileCreation::kOpenExisting ? "open" : "create";
    if (file.nameTooLong) {
      StoreFailure(file, kErrFilenameTooLong, step);
      return;
    }
    handle = CreateFileByPath(file.name, FileAccess::kReadWrite, creation);
    if (handle == kInvalidHandle) {
      StoreLastError(file, step);
      return;
    }
  }
  Take(file, handle, recordSize);
}

// The byte count of count records, or false when it does not fit one
// platform call.
bool ByteCount(const BlockFile& file, std::uint32_t count,
               std::uint32_t* bytes) {
  const std::uint64_t product =
      static_cast<std::uint64_t>(count) * file.RecordSize;
  if (product > std::numeric_limits<std::uint32_t>::max()) return false;
  *bytes = static_cast<std::uint32_t>(product);
  return true;
}

// One platform call, no retry: whatever it moves is the result.
template <typename Buffer, typename Transfer>
void TransferBlock(BlockFile& file, Buffer buffer, std::uint32_t count,
                   std::uint32_t* done, Transfer transfer,
                   std::int32_t shortCode, const char* step) {
  if (done != nullptr) *done = 0;
  if (file.mode != BlockMode::kOpen) {
    StoreIoFailure(kIoNotOpen);
    return;
  }
  std::uint32_t bytes = 0;
  std::uint32_t moved = 0;
  if (count != 0) {
    if (!ByteCount(file, count, &bytes)) {
      StoreIoFailure(kErrInvalidParameter);
      return;
    }
    if (!transfer(file.handle, buffer, bytes, &moved)) {
      StoreLastError(file, step);
      return;
    }
  }
  if (done != nullptr) {
    *done = moved / file.RecordSize;
  } else if (moved < bytes) {
    StoreFailure(file, shortCode, step);
  }
}

}  // namespace

void AttachName(BlockFile& file, std::string_view name) {
  file.handle = 0;
  file.mode = BlockMode::kClosed;
  file.RecordSize = 0;
  file.nameTooLong = CopyName(name, file.name);
}

void OpenRead(BlockFile& file, std::uint32_t recordSize) {
  // Write access too: a read-only file cannot be opened this way.
  Open(file, recordSize, FileCreation::kOpenExisting, StdStream::kInput);
}

void OpenNew(BlockFile& file, std::uint32_t recordSize) {
  Open(file, recordSize, FileCreation::kCreateAlways, StdStream::kOutput);
}

void OpenHandle(BlockFile& file, OsHandle handle, std::uint32_t recordSize) {
  if (MayOpen(file, recordSize)) Take(file, handle, recordSize);
}

void RenameFile(BlockFile& file, std::string_view newName) {
  char copy[kNameMax + 1];
  // Never move a file to, or from, a cut name.
  if (CopyName(newName, copy) || file.nameTooLong) {
    StoreIoFailure(kErrFilenameTooLong);
    return;
  }
  if (!MoveFileByPath(file.name, copy)) {
    StoreIoFailureOn(FailedCall(), "rename", file.name, copy);
    return;
  }
  std::memcpy(file.name, copy, sizeof copy);
}

void SeekTo(BlockFile& file, std::int64_t record) {
  if (file.mode != BlockMode::kOpen) {
    StoreIoFailure(kIoNotOpen);
    return;
  }
  std::int64_t offset = 0;
  if (__builtin_mul_overflow(record, static_cast<std::int64_t>(file.RecordSize),
                             &offset)) {
    StoreIoFailure(kErrInvalidParameter);
    return;
  }
  // A position beyond the end is no failure; the file is not extended.
  if (!Os().setFilePointer(file.handle, offset, SeekFrom::kBegin, nullptr))
    StoreLastError(file, "seek in");
}

bool AtEnd(BlockFile& file) {
  if (file.mode != BlockMode::kOpen) {
    StoreIoFailure(kIoNotOpen);
    return false;
  }
  const PlatformApi& os = Os();
  std::int64_t position = 0;
  std::int64_t size = 0;
  if (!os.setFilePointer(file.handle, 0, SeekFrom::kCurrent, &position)) {
    StoreLastError(file, "seek in");
    return false;
  }
  bool ok = os.setFilePointer(file.handle, 0, SeekFrom::kEnd, &size);
  std::int32_t code = ok ? 0 : FailedCallError();
  // Back to where the caller was, whether or not the size was read.
  if (!os.setFilePointer(file.handle, position, SeekFrom::kBegin, nullptr)) {
    if (ok) code = FailedCallError();
    ok = false;
  }
  if (!ok) {
    StoreFailure(file, code, "seek in");
    return false;
  }
  return position == size;
}

void ReadBlock(BlockFile& file, void* buffer, std::uint32_t count,
               std::uint32_t* done) {
  TransferBlock(file, buffer, count, done, Os().readFile, kIoReadBeyondEnd,
                "read");
}

void WriteBlock(BlockFile& file, const void* buffer, std::uint32_t count,
                std::uint32_t* done) {
  TransferBlock(file, buffer, count, done, Os().writeFile, kIoDiskFull,
                "write");
}

void CloseStream(BlockFile& file) {
  if (file.mode != BlockMode::kOpen) {
    StoreIoFailure(kIoNotOpen);
    return;
  }
  if (!Os().closeHandle(file.handle)) StoreLastError(file, "close");
  file.mode = BlockMode::kClosed;
}

void DiscardFile(BlockFile& file) {
  if (file.mode == BlockMode::kOpen) Os().closeHandle(file.handle);
  if (file.mode != BlockMode::kNeverAttached) file.mode = BlockMode::kClosed;
}

std::int64_t SizeOf(BlockFile& file) {
  if (file.mode != BlockMode::kOpen) {
    StoreIoFailure(kIoNotOpen);
    return -1;
  }
  const PlatformApi& os = Os();
  std::int64_t position = 0;
  std::int64_t size = 0;
  if (!os.setFilePointer(file.handle, 0, SeekFrom::kCurrent, &position) ||
      !os.setFilePointer(file.handle, 0, SeekFrom::kEnd, &size) ||
      !os.setFilePointer(file.handle, position, SeekFrom::kBegin, nullptr)) {
    StoreLastError(file, "seek in");
    return -1;
  }
  return size / file.RecordSize;
}

void FlushFile(BlockFile& file) {
  if (file.mode != BlockMode::kOpen) {
    StoreIoFailure(kIoNotOpen);
    return;
  }
  if (!Os().flushFile(file.handle)) StoreLastError(file, "flush");
}

}  // namespace quilbo
