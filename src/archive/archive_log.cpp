#include "archive/archive_log.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "errors/io_status.h"
#include "errors/raise.h"
#include "archive/log_removal.h"
#include "fs/file_helpers.h"
#include "fs/run_folders.h"
#include "platform/platform.h"
#include "textio/text_stream.h"

namespace quilbo {

namespace {

bool IdentityOf(OsHandle folder, std::string_view name, FileIdentity* identity) {
  const char* text = ScratchName(name);
  return text != nullptr && folder != kInvalidHandle &&
         Os().fileIdentityAt(folder, text, identity);
}

// Appending a file to itself never ends well (the copy may never finish),
// so an archive that is its log refuses the run before the archive opens.
// Only an archive that exists can be the log.
void RefuseSelfArchive(const RunFolders& folders, std::string_view log,
                       std::string_view archive, const std::string& target) {
  FileIdentity from{};
  FileIdentity to{};
  if (!IdentityOf(folders.archives, archive, &to) || !IdentityOf(folders.logs, log, &from))
    return;
  if (from.volume != to.volume || from.index != to.index) return;
  char message[256];
  std::snprintf(message, sizeof message,
                "Archive %.*s is the log file itself; choose another archive folder",
                static_cast<int>(target.size() > 180 ? 180 : target.size()),
                target.data());
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

// The size the log had when its copy ended, which its deletion checks;
// -1 when the copy stopped at an end marker (what follows it is never
// archived, so growth there loses nothing). False when it is not known:
// the log is then kept.
bool CopiedSize(TextStream& log, std::int64_t* size) {
  if (log.position < log.end) {
    *size = -1;
    return true;
  }
  return Os().setFilePointer(log.handle, 0, SeekFrom::kCurrent, size);
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
  char message[256];
  std::snprintf(message, sizeof message,
                "Archive %.*s lies behind a link of another user; not followed",
                static_cast<int>(archive.size() > 180 ? 180 : archive.size()),
                archive.data());
  RaiseError(message);
}

void ArchiveLogFile(const RunFolders& folders, std::string_view logName,
                    std::string_view archiveName, std::int64_t from,
                    std::int32_t truncateKb, PendingRemoval* removal) {
  if (removal != nullptr) removal->file = kInvalidHandle;
  const std::string source = folders.logPath + std::string(logName);
  const std::string target = folders.archivePath + kPathSeparator + std::string(archiveName);
  // A found log whose path the platform cannot take would look missing:
  // end the run with the report rather than skip it without a word.
  if (!PathFits(source)) {
    StoreIoFailure(kErrFilenameTooLong);
    CheckIo();
  }
  // A cut goes through <archive>.tmp: an archive that cannot have one is
  // refused before anything is appended, or every run would append the log
  // and then fail at the cut.
  if (truncateKb > 0 && !PathFits(target + ".tmp")) {
    StoreIoFailure(kErrFilenameTooLong);
    CheckIo();
  }

  // Disk-sized transfers for both streams; released however the call ends.
  const std::unique_ptr<char, MemoryRelease> buffers(
      static_cast<char*>(GetMemory(2 * kCopyBufferSize)));

  // The log is opened first, so that a log that cannot be reached costs
  // nothing: no archive is created for it. The open is also the check that
  // the log is still there: one that has gone since the search, or is no
  // longer a file, is skipped without a word.
  if (folders.logs == kInvalidHandle) {
    StoreIoFailure(folders.logsError);
    CheckIo();
  }
  TextStream log{};
  AttachName(log, folders.logs, logName);
  UseBuffer(log, buffers.get() + kCopyBufferSize, kCopyBufferSize);
  OpenRead(log);
  if (IsMissingSource(IoStatus) ||
      (IoStatus != 0 && !IsPlainFileAt(folders.logs, logName))) {
    TakeIoStatus();
    return;
  }
  CheckIo();
  if (from > 0 && !Os().setFilePointer(log.handle, from, SeekFrom::kBegin, nullptr)) {
    StoreIoFailure(FailedCallError());
    CheckIo();
  }
  if (folders.archives == kInvalidHandle) {
    StoreIoFailure(folders.archivesError);
    RefuseLinkedArchive(target);
    CheckIo();
  }
  if (IsPlainFileAt(folders.archives, archiveName))
    RefuseSelfArchive(folders, logName, archiveName, target);
  FinishInterruptedCut(target, truncateKb);
  const bool exists = IsPlainFileAt(folders.archives, archiveName);

  TextStream archive{};
  AttachName(archive, folders.archives, archiveName);
  UseBuffer(archive, buffers.get(), kCopyBufferSize);
  if (exists) {
    OpenAppend(archive);
  } else {
    // Never OpenNew: if the check above failed on an archive that exists,
    // emptying it would lose every line archived before.
    OpenCreate(archive);
  }
  RefuseLinkedArchive(target);
  CheckIo();
  // A new archive is no more open than its log. Should this fail, the
  // archive stays open to its owner only.
  if (!exists) Os().copyAccess(log.handle, archive.handle);

  CopyText(log, archive);

  std::int64_t copiedSize = -1;
  const bool sizeKnown = removal != nullptr && CopiedSize(log, &copiedSize);
  // A log that will be deleted stays open until then: its deletion checks
  // that nobody else has it open, and that it is still the file copied.
  const OsHandle kept = sizeKnown ? DetachHandle(log) : kInvalidHandle;
  if (!sizeKnown) {
    CloseStream(log);
    CheckIo();
  }
  CloseStream(archive);
  CheckIo();

  // Only a closed, complete archive is cut; the log goes only after its
  // text is on the disk, with its group's (see log_removal.h).
  if (truncateKb > 0) TruncateArchive(target, truncateKb);
  if (sizeKnown) {
    removal->file = kept;
    removal->log.assign(logName);
    removal->archive.assign(archiveName);
    removal->copiedSize = copiedSize;
  }
}

}  // namespace quilbo
