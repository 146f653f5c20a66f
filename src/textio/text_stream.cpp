// Naming, opening and closing text streams, and the hook routines that do
// their I/O.
#include "textio/text_stream.h"

#include <cstring>

#include "errors/io_status.h"
#include "errors/notes.h"
#include "textio/text_internal.h"
#include "textio/text_rule.h"

namespace quilbo {

namespace {

std::int32_t OsError() { return FailedCallError(); }

std::int32_t ReadRoutine(TextStream& stream) {
  if (stream.drained) {
    stream.position = 0;
    stream.end = 0;
    return 0;
  }
  std::uint32_t done = 0;
  const bool ok =
      Os().readFile(stream.handle, stream.buffer, stream.bufferSize, &done);
  stream.position = 0;
  if (!ok) {
    stream.end = 0;
    const std::int32_t code = OsError();
    // A pipe whose writer has gone simply has no more data.
    return code == kErrBrokenPipe ? 0 : code;
  }
  stream.end = done <= stream.bufferSize ? done : stream.bufferSize;
  stream.bytesRead += stream.end;
  stream.drained = stream.shortReadEnds && stream.end < stream.bufferSize;
  return 0;
}

// The file's last whole line ends at to: what a failed transfer left after
// it goes. Best effort: the transfer's own failure is what is reported.
void TakeBack(const TextStream& stream, std::int64_t to) {
  const PlatformApi& os = Os();
  if (os.setFilePointer(stream.handle, to, SeekFrom::kBegin, nullptr)) os.setEndOfFile(stream.handle);
}

std::int32_t WriteRoutine(TextStream& stream) {
  // The bytes are given up before the write, so a failure cannot leave
  // them to be written again by the next transfer.
  const std::uint32_t count = stream.position;
  stream.position = 0;
  // A stream of whole lines knows where this transfer begins, so a failure
  // part-way (a disk filling up, a quota, a file-size limit) can take back
  // what it wrote instead of leaving a line cut in two.
  std::int64_t start = -1;
  if (stream.lineTransfers && count != 0 &&
      !Os().setFilePointer(stream.handle, 0, SeekFrom::kCurrent, &start))
    return OsError();
  // A write that takes only part of the bytes is carried on with the rest,
  // so the failure that follows is reported rather than the lost bytes
  // going unnoticed. The first call is made also when there is nothing to
  // write.
  std::uint32_t written = 0;
  do {
    std::uint32_t done = 0;
    if (!Os().writeFile(stream.handle, stream.buffer + written,
                        count - written, &done)) {
      const std::int32_t code = OsError();
      if (start >= 0) TakeBack(stream, start - static_cast<std::int64_t>(stream.unfinished));
      return code;
    }
    if (done == 0) break;  // no progress: nothing more to try
    written += done < count - written ? done : count - written;
  } while (written < count);
  if (count != 0) stream.unfinished = stream.buffer[count - 1] == kLF ? 0 : stream.unfinished + count;
  return 0;
}

// The end of a statement writes out what is pending. When a transfer has
// just emptied the buffer there is nothing to write, and an empty write
// would only cost a call: a console line of up to 126 characters thus
// reaches the platform in exactly one write.
// The end of a statement writes whatever is pending, also nothing: a line
// that filled the buffer exactly is followed by a write of 0 bytes.
std::int32_t FlushRoutine(TextStream& stream) { return WriteRoutine(stream); }

std::int32_t CloseRoutine(TextStream& stream) {
  return Os().closeHandle(stream.handle) ? 0 : OsError();
}

// Leaves the file position of a disk file opened for appending at the end
// of its text, cutting the file there when an end marker ends it. The cut
// is best effort, but the place where writing starts is not: an append that
// could begin inside the old text would overwrite it, so when the end
// cannot be reached the open fails.
std::int32_t CutAtEndMarker(TextStream& stream) {
  const PlatformApi& os = Os();
  TextEnd end{};
  if (FindTextEnd(stream.handle, stream.buffer, &end)) {
    if (!end.marker) return 0;
    if (os.setFilePointer(stream.handle, end.offset, SeekFrom::kBegin, nullptr)) {
      os.setEndOfFile(stream.handle);  // a failed cut is ignored
      return 0;
    }
  }
  return os.setFilePointer(stream.handle, 0, SeekFrom::kEnd, nullptr) ? 0 : OsError();
}

std::int32_t StandardOpen(TextStream& stream) {
  const bool reading = stream.mode == StreamMode::kReading;
  const bool named = stream.name[0] != '\0';
  if (!named) {
    stream.handle =
        Os().stdHandle(reading ? StdStream::kInput : StdStream::kOutput);
  } else {
    if (stream.nameTooLong) return kErrFilenameTooLong;
    const FileAccess access = reading ? FileAccess::kRead : FileAccess::kReadWrite;
    const FileCreation creation = stream.mode != StreamMode::kWriting ? FileCreation::kOpenExisting
                                                                      : FileCreation::kCreateAlways;
    const OsHandle handle =
        stream.found != nullptr          ? Os().openFoundAt(stream.folder, stream.found)
        : stream.folder != kInvalidHandle ? Os().createFileAt(stream.folder, stream.name, access, creation)
                                          : CreateFileByPath(stream.name, access, creation);
    if (handle == kInvalidHandle) {
      return OsError();
    }
    stream.handle = handle;
  }
  stream.CloseHook = CloseRoutine;
  if (reading) {
    stream.TransferHook = ReadRoutine;
    stream.FlushHook = nullptr;
    return 0;
  }
  stream.TransferHook = WriteRoutine;
  if (Os().fileType(stream.handle) == FileKind::kCharacter) {
    // Written through at every statement in writes of at most 128 bytes,
    // whatever buffer was offered.
    stream.buffer = stream.builtIn;
    stream.bufferSize = kTextBufferSize;
    stream.FlushHook = FlushRoutine;
  } else if (stream.mode == StreamMode::kAppending) {
    stream.FlushHook = nullptr;
    const std::int32_t code = CutAtEndMarker(stream);
    if (code != 0) {
      if (named) Os().closeHandle(stream.handle);
      return code;
    }
  } else {
    // Standard output is written through whatever it is connected to.
    stream.FlushHook = named ? nullptr : FlushRoutine;
  }
  stream.mode = StreamMode::kWriting;
  return 0;
}

void Attach(TextStream& stream, const char* name, std::size_t length) {
  stream.handle = 0;
  stream.mode = StreamMode::kClosed;
  stream.bufferSize = kTextBufferSize;
  stream.position = 0;
  stream.end = 0;
  stream.buffer = stream.builtIn;
  stream.OpenHook = StandardOpen;
  stream.TransferHook = nullptr;
  stream.FlushHook = nullptr;
  stream.CloseHook = nullptr;
  stream.folder = kInvalidHandle;
  stream.shownFolder = {};
  stream.found = nullptr;
  stream.lineTransfers = false;
  stream.shortReadEnds = false;
  // The name ends at its first NUL, as it would for the platform.
  const void* nul = length != 0 ? std::memchr(name, '\0', length) : nullptr;
  if (nul != nullptr) length = static_cast<std::size_t>(static_cast<const char*>(nul) - name);
  const std::size_t kept = CharactersPrefix(std::string_view(name, length),
                                            kMaxNameLength, sizeof stream.name - 1);
  stream.nameTooLong = kept < length;
  length = kept;
  if (length != 0) std::memcpy(stream.name, name, length);
  stream.name[length] = '\0';
}

void Open(TextStream& stream, StreamMode request) {
  if (stream.mode == StreamMode::kReading ||
      stream.mode == StreamMode::kWriting) {
    CloseStream(stream);
  } else if (stream.mode != StreamMode::kClosed) {
    StoreIoFailure(kIoNotAttached);
    return;
  }
  stream.mode = request;
  stream.position = 0;
  stream.end = 0;
  stream.bytesRead = 0;
  stream.drained = false;
  stream.unfinished = 0;
  const std::int32_t code = stream.OpenHook(stream);
  if (code != 0) {
    StoreStreamFailure(stream, code,
                       request == StreamMode::kReading     ? "open"
                       : request == StreamMode::kAppending ? "append to"
                                                           : "create");
    stream.mode = StreamMode::kClosed;
  }
}

}  // namespace

std::string NotedPath(const TextStream& stream) {
  return std::string(stream.shownFolder) + stream.name;
}

void StoreStreamFailure(const TextStream& stream, std::int32_t code,
                        const char* step) {
  // Runs after every transfer: a success must cost nothing here.
  if (code == 0) return;
  const bool reading = stream.mode == StreamMode::kReading;
  if (stream.name[0] == '\0') {
    StoreIoFailureOn(code, step, reading ? "standard input" : "standard output");
    return;
  }
  StoreIoFailureOn(code, step, NotedPath(stream));
}

void AttachName(TextStream& stream, std::string_view name) {
  Attach(stream, name.data(), name.size());
}

void AttachName(TextStream& stream, const CountedString& name) {
  Attach(stream, name.chars, name.length);
}

void AttachName(TextStream& stream, OsHandle folder, std::string_view shownFolder,
                std::string_view name) {
  Attach(stream, name.data(), name.size());
  stream.folder = folder;
  stream.shownFolder = shownFolder;
}

void UseBuffer(TextStream& stream, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size < kTextBufferSize) return;
  stream.buffer = buffer;
  stream.bufferSize = size;
}

void EndTransfersAtLines(TextStream& stream) { stream.lineTransfers = true; }

void EndAtShortRead(TextStream& stream) { stream.shortReadEnds = true; }

void OpenRead(TextStream& stream) { Open(stream, StreamMode::kReading); }

void OpenReadFound(TextStream& stream, FindData* found) {
  stream.found = found;
  Open(stream, StreamMode::kReading);
  stream.found = nullptr;
}
void OpenNew(TextStream& stream) { Open(stream, StreamMode::kWriting); }
void OpenAppend(TextStream& stream) { Open(stream, StreamMode::kAppending); }

void OpenNewFile(TextStream& stream, OsHandle file) {
  if (stream.mode != StreamMode::kClosed) {
    StoreIoFailure(kIoNotAttached);
    return;
  }
  stream.handle = file;
  stream.position = 0;
  stream.end = 0;
  stream.unfinished = 0;
  stream.TransferHook = WriteRoutine;
  stream.FlushHook = nullptr;
  stream.CloseHook = CloseRoutine;
  stream.mode = StreamMode::kWriting;
}

void OpenAppendFile(TextStream& stream, OsHandle file) {
  OpenNewFile(stream, file);
  if (stream.mode != StreamMode::kWriting || stream.handle != file) {
    Os().closeHandle(file);  // a stream still open keeps its own file
    return;
  }
  const std::int32_t code = CutAtEndMarker(stream);
  if (code == 0) return;
  Os().closeHandle(file);
  stream.mode = StreamMode::kClosed;
  StoreStreamFailure(stream, code, "append to");
}

void EndStatement(TextStream& stream) {
  if (IoStatus == 0 && stream.FlushHook != nullptr)
    StoreStreamFailure(stream, stream.FlushHook(stream), "write");
}

void CloseStream(TextStream& stream) {
  if (stream.mode == StreamMode::kWriting) {
    StoreStreamFailure(stream, stream.TransferHook(stream), "write");
  } else if (stream.mode != StreamMode::kReading) {
    StoreIoFailure(kIoNotOpen);
    return;
  }
  StoreStreamFailure(stream, stream.CloseHook(stream), "close");
  stream.mode = StreamMode::kClosed;
}

OsHandle DetachHandle(TextStream& stream) {
  if (stream.mode != StreamMode::kReading) return kInvalidHandle;
  stream.mode = StreamMode::kClosed;
  return stream.handle;
}

}  // namespace quilbo
