#include "archive/archive_log.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "errors/io_status.h"
#include "errors/notes.h"
#include "errors/raise.h"
#include "fs/file_helpers.h"
#include "fs/run_folders.h"
#include "platform/platform.h"
#include "textio/text_stream.h"

namespace quilbo {

namespace {

// Appending a file to itself never ends well (the copy may never finish),
// so an archive that is its log refuses the run before a byte is written;
// the archive's handle is closed then.
void RefuseSelfArchive(OsHandle archive, const FileInfo& to, OsHandle log,
                       const std::string& target) {
  const PlatformApi& os = Os();
  FileInfo from{};
  if (!os.fileInfoOf(log, &from) || !SameFile(from.identity, to.identity)) return;
  os.closeHandle(archive);
  const std::string shown = ConsoleForm(target);
  char message[256];
  std::snprintf(message, sizeof message,
                "Archive %.*s is the log file itself; choose another archive folder",
                static_cast<int>(shown.size() > 180 ? 180 : shown.size()), shown.c_str());
  RaiseError(message);
}

struct MemoryRelease {
  void operator()(char* block) const { ReleaseMemory(block); }
};

// A log that cannot be reached (gone since the search, a link that leads
// nowhere or loops, another user's link) is a missing source.
bool IsMissingSource(std::int32_t code) {
  return code == kErrFileNotFound || code == kErrPathNotFound ||
         code == kErrCantResolve || code == kErrUntrustedLink;
}

// Where the copy of an append in place ended; it began at from. Stopped
// at an end marker, the marker is the first byte the stream holds unread.
CopyEnd EndOfCopy(const TextStream& log, std::int64_t from) {
  const std::int64_t read = from + static_cast<std::int64_t>(log.bytesRead);
  if (log.position >= log.end) return CopyEnd{read, -1};
  return CopyEnd{read, read - static_cast<std::int64_t>(log.end - log.position)};
}

// Whether the log holds anything but end markers after its first one, at
// marker: then it is no text log, and deleting it would lose what was
// never archived. Reads until the first such byte.
bool MoreThanText(OsHandle log, std::int64_t marker, char* block, const std::string& source) {
  const PlatformApi& os = Os();
  if (!os.setFilePointer(log, marker, SeekFrom::kBegin, nullptr)) {
    StoreIoFailureOn(FailedCall(), "read", source);
    CheckIo();
  }
  for (;;) {
    std::uint32_t got = 0;
    if (!os.readFile(log, block, kCopyBufferSize, &got)) {
      StoreIoFailureOn(FailedCall(), "read", source);
      CheckIo();
    }
    if (got == 0) return false;
    for (std::uint32_t i = 0; i < got; ++i)
      if (block[i] != kEndMarker) return true;
  }
}

// A new archive has its log's access from the moment its name exists; it
// is written through the handle its creation gives.
void CreateArchive(const RunFolders& folders, std::string_view name, OsHandle log,
                   TextStream& archive, const std::string& target) {
  const char* text = ScratchName(name);
  if (text == nullptr) {
    StoreIoFailureOn(kErrFilenameTooLong, "create", target);
    return;
  }
  const OsHandle file = Os().createFileAsAt(folders.archives, text, log, nullptr, 0);
  if (file == kInvalidHandle) {
    StoreIoFailureOn(FailedCall(), "create", target);
    return;
  }
  OpenNewFile(archive, file);
}

// The archive as it stands, open for reading and writing, or kInvalidHandle
// when it does not exist yet: one open answers both, and what it reaches is
// what the append writes to. Only a disk file is appended to: anything else
// under the archive's name (a FIFO, a device) is refused as an existing
// name is by a creation.
OsHandle OpenArchive(const RunFolders& folders, std::string_view name, OsHandle log,
                     const std::string& target) {
  const PlatformApi& os = Os();
  const char* text = ScratchName(name);
  if (text == nullptr) return kInvalidHandle;  // the creation reports it
  const OsHandle file =
      os.createFileAt(folders.archives, text, FileAccess::kReadWrite, FileCreation::kOpenExisting);
  if (file == kInvalidHandle) {
    const SystemFailure failure = FailedCall();
    const std::int32_t code = failure.code;
    if (code == kErrFileNotFound || code == kErrPathNotFound) return kInvalidHandle;
    // A log that cannot be written to is still refused as its own archive.
    const OsHandle reading =
        os.createFileAt(folders.archives, text, FileAccess::kRead, FileCreation::kOpenExisting);
    FileInfo found{};
    if (reading != kInvalidHandle) {
      if (os.fileInfoOf(reading, &found)) RefuseSelfArchive(reading, found, log, target);
      os.closeHandle(reading);
    }
    StoreIoFailureOn(failure, "append to", target);
    RefuseLinkedArchive(target);
    CheckIo();
  }
  FileInfo found{};
  if (!os.fileInfoOf(file, &found) || found.kind != FileKind::kDisk) {
    os.closeHandle(file);
    StoreIoFailureOn(kErrFileExists, "create", target);
    CheckIo();
  }
  RefuseSelfArchive(file, found, log, target);
  return file;
}

void CopyText(TextStream& log, TextStream& archive) {
  // One buffer for the whole copy: pieces reuse its capacity.
  std::string piece;
  for (;;) {
    const bool atEnd = AtEnd(log);
    CheckIo();
    if (atEnd) break;
    ReadPiece(log, piece);
    EndStatement(log);
    CheckIo();
    WriteText(archive, piece, 0);
    EndStatement(archive);
    CheckIo();
    const bool lineEnded = AtLineEnd(log);
    CheckIo();
    if (lineEnded) {
      SkipLineEnd(log);
      CheckIo();
      WriteLineEnd(archive);
      CheckIo();
    }
  }
}

}  // namespace

void RefuseLinkedArchive(std::string_view archive) {
  if (IoStatus != kErrUntrustedLink) return;
  TakeIoStatus();
  const std::string shown = ConsoleForm(archive);
  char message[256];
  std::snprintf(message, sizeof message,
                "Archive %.*s lies behind a link of another user; not followed",
                static_cast<int>(shown.size() > 180 ? 180 : shown.size()), shown.c_str());
  RaiseError(message);
}

namespace {

// A found log whose path the platform cannot take would look missing: the
// run ends with the report rather than skip it without a word. A cut
// writes its new file under "<archive>.tmp" or a shorter name: an archive
// that can have none is refused before anything is appended, or every run
// would append the log and then fail at the cut.
void RefuseUnfitNames(const std::string& source, const std::string& target,
                      std::int32_t truncateKb) {
  if (!PathFits(source)) {
    StoreIoFailureOn(kErrFilenameTooLong, "open", source);
    CheckIo();
  }
  if (truncateKb > 0 && CutFileName(target, 0).empty()) {
    StoreIoFailureOn(kErrFilenameTooLong, "cut", target);
    CheckIo();
  }
}

// The log is opened first, so that a log that cannot be reached costs
// nothing: no archive is created for it. The open is also the check that
// the log is still there: one that has gone since the search, or is no
// longer a file, is skipped without a word (false).
bool OpenLog(const RunFolders& folders, std::string_view logName, const std::string& source,
             std::int64_t from, char* buffer, TextStream& log) {
  if (folders.logs == kInvalidHandle) {
    StoreIoFailureOn(folders.logsError, "open", source);
    CheckIo();
  }
  AttachName(log, folders.logs, folders.logPath, logName);
  UseBuffer(log, buffer, kCopyBufferSize);
  EndAtShortRead(log);
  if (folders.found != nullptr && logName == folders.found->name)
    OpenReadFound(log, folders.found);
  else
    OpenRead(log);
  if (IsMissingSource(IoStatus) ||
      (IoStatus != 0 && !IsPlainFileAt(folders.logs, logName))) {
    TakeIoStatus();
    return false;
  }
  CheckIo();
  if (from > 0 && !Os().setFilePointer(log.handle, from, SeekFrom::kBegin, nullptr)) {
    StoreIoFailureOn(FailedCall(), "read", source);
    CheckIo();
  }
  return true;
}

// The archive as the append finds it: made by this call, or there before
// and open (both kInvalidHandle: neither, CreateArchive makes it).
struct ArchiveFile {
  OsHandle made;
  OsHandle old;
};

// Write access too, as an append needs: a read-only archive, or a folder
// under its name, is refused before anything is written or cut. A cut
// needs to know whether the archive was there, so it never creates first;
// a creation that fails for any reason is left to the open and its
// reports.
ArchiveFile OpenOrMakeArchive(RunFolders& folders, std::string_view archiveName,
                              const TextStream& log, std::int32_t truncateKb,
                              const std::string& target) {
  if (folders.archives == kInvalidHandle) {
    StoreIoFailureInFolder(folders.archivesError, "create", target, folders.archivePath,
                           folders.archivesNotMade);
    RefuseLinkedArchive(target);
    CheckIo();
  }
  const char* text = ScratchName(archiveName);
  const OsHandle made = folders.archivesNew && truncateKb == 0 && text != nullptr
                            ? Os().createFileAsAt(folders.archives, text, log.handle, nullptr, 0)
                            : kInvalidHandle;
  const OsHandle old = made != kInvalidHandle ? kInvalidHandle
                                              : OpenArchive(folders, archiveName, log.handle, target);
  folders.archivesNew = old == kInvalidHandle;
  return ArchiveFile{made, old};
}

// Appends the log's text to the end of its archive, line by line, and
// closes the archive; gives where the copy of the log ended.
CopyEnd AppendInPlace(const RunFolders& folders, std::string_view archiveName, TextStream& log,
                      std::int64_t from, ArchiveFile file, char* buffer,
                      const std::string& target) {
  TextStream archive{};
  AttachName(archive, folders.archives, folders.archiveShown, archiveName);
  UseBuffer(archive, buffer, kCopyBufferSize);
  EndTransfersAtLines(archive);
  // Never an emptying open: if the check above failed on an archive that
  // exists, emptying it would lose every line archived before.
  if (file.old != kInvalidHandle) {
    OpenAppendFile(archive, file.old);
  } else if (file.made != kInvalidHandle) {
    OpenNewFile(archive, file.made);
  } else {
    CreateArchive(folders, archiveName, log.handle, archive, target);
  }
  RefuseLinkedArchive(target);
  CheckIo();
  CopyText(log, archive);
  const CopyEnd end = EndOfCopy(log, from);
  CloseStream(archive);
  CheckIo();
  return end;
}

// A log that will be deleted stays open until then: its deletion checks
// that nobody else has it open, and that it is still the file copied. One
// that stays was only read: its close has nothing to report.
void HandOverLog(TextStream& log, bool keepOpen, ArchivedLog* done) {
  if (!keepOpen) {
    Os().closeHandle(DetachHandle(log));
    return;
  }
  done->file = DetachHandle(log);
}

}  // namespace

bool ArchiveLogFile(RunFolders& folders, std::string_view logName, std::string_view archiveName,
                    std::int64_t from, std::int32_t truncateKb, bool keepOpen,
                    ArchivedLog* done) {
  *done = ArchivedLog{};
  const std::string source = folders.logPath + std::string(logName);
  const std::string target = folders.archivePath + kPathSeparator + std::string(archiveName);
  RefuseUnfitNames(source, target, truncateKb);
  // Disk-sized transfers for both streams; released however the call ends.
  const std::unique_ptr<char, MemoryRelease> buffers(
      static_cast<char*>(GetMemory(2 * kCopyBufferSize)));

  TextStream log{};
  if (!OpenLog(folders, logName, source, from, buffers.get() + kCopyBufferSize, log))
    return false;
  const ArchiveFile file = OpenOrMakeArchive(folders, archiveName, log, truncateKb, target);

  CopyEnd end;
  const bool cut = truncateKb > 0 &&
                   AppendAndCut(log, from, folders, archiveName, file.old,
                                static_cast<std::int64_t>(truncateKb) * 1024, buffers.get(), &end);
  if (!cut) end = AppendInPlace(folders, archiveName, log, from, file, buffers.get(), target);
  done->copiedSize = end.marker >= 0 ? -1 : end.size;
  done->moreThanText = keepOpen && end.marker >= 0 &&
                       MoreThanText(log.handle, end.marker + 1, buffers.get(), source);

  HandOverLog(log, keepOpen, done);
  return true;
}

}  // namespace quilbo
