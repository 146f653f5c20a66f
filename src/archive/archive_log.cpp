#include "archive/archive_log.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "archive/kept_log.h"
#include "errors/io_status.h"
#include "errors/notes.h"
#include "errors/raise.h"
#include "fs/file_helpers.h"
#include "platform/platform.h"
#include "textio/text_stream.h"

namespace quilbo {

namespace {

bool IdentityOf(std::string_view name, FileIdentity* identity) {
  const char* text = ScratchName(name);
  return text != nullptr && Os().fileIdentity(text, identity);
}

// Appending a file to itself never ends well (the copy may never finish),
// so an archive that is its source refuses the run before anything opens.
// The archive is looked up first: when there is none, the log's own lookup
// is not needed.
void RefuseSelfArchive(std::string_view source, std::string_view target) {
  FileIdentity from{};
  FileIdentity to{};
  if (!IdentityOf(target, &to) || !IdentityOf(source, &from)) return;
  if (from.volume != to.volume || from.index != to.index) return;
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

// A new archive has its log's access from the moment its name exists.
void CreateArchive(std::string_view target, OsHandle log) {
  const char* name = ScratchName(target);
  if (name == nullptr) {
    StoreIoFailureOn(kErrFilenameTooLong, "create", target);
    return;
  }
  const PlatformApi& os = Os();
  const OsHandle file = os.createFileAs(name, log, nullptr, 0);
  if (file == kInvalidHandle) {
    StoreIoFailureOn(FailedCallError(), "create", target);
    return;
  }
  if (!os.closeHandle(file)) StoreIoFailureOn(FailedCallError(), "close", target);
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

void ArchiveLogFile(std::string_view source, std::string_view target,
                    bool deleteOriginal, std::int32_t truncateKb) {
  // A found log whose path the platform cannot take would look missing:
  // end the run with the report rather than skip it without a word.
  if (!PathFits(source)) {
    StoreIoFailureOn(kErrFilenameTooLong, "open", source);
    CheckIo();
  }
  // A cut writes its new file under "<archive>.tmp" or a shorter name: an
  // archive that can have none is refused before anything is appended, or
  // every run would append the log and then fail at the cut.
  if (truncateKb > 0 && CutFileName(target, 0).empty()) {
    StoreIoFailureOn(kErrFilenameTooLong, "cut", target);
    CheckIo();
  }
  // Disk-sized transfers for both streams; released however the call ends.
  const std::unique_ptr<char, MemoryRelease> buffers(
      static_cast<char*>(GetMemory(2 * kCopyBufferSize)));

  // The log is opened first, so that a log that cannot be reached costs
  // nothing: no archive is created for it. The open is also the check that
  // the log is still there: one that has gone since the search, or is no
  // longer a file, is skipped without a word.
  TextStream log{};
  AttachName(log, source);
  UseBuffer(log, buffers.get() + kCopyBufferSize, kCopyBufferSize);
  OpenRead(log);
  if (IsMissingSource(IoStatus) || (IoStatus != 0 && !IsPlainFile(source))) {
    TakeIoStatus();
    return;
  }
  CheckIo();
  RefuseSelfArchive(source, target);

  FindData found{};
  const bool named = LookUpFile(target, &found);
  // A folder under the archive's name is refused as an emptying open
  // would refuse it, before a cut makes a file it could not put in place.
  if (named && (found.attributes & kAttrDirectory) != 0) {
    StoreIoFailureOn(kErrAccessDenied, "write", target);
    CheckIo();
  }
  const bool exists = named;
  std::int64_t copiedSize = -1;
  if (truncateKb > 0 &&
      AppendAndCut(log, target, exists, static_cast<std::int64_t>(truncateKb) * 1024,
                   buffers.get(), &copiedSize)) {
    // The cut archive is on the disk already.
    CloseStream(log);
    CheckIo();
    if (deleteOriginal && !RemoveLog(source, copiedSize))
      NoteKeptLog(source, FailedCallError());
    return;
  }

  TextStream archive{};
  AttachName(archive, target);
  UseBuffer(archive, buffers.get(), kCopyBufferSize);
  EndTransfersAtLines(archive);
  // Never an emptying open: if the check above failed on an archive that
  // exists, emptying it would lose every line archived before.
  if (!exists) {
    CreateArchive(target, log.handle);
    RefuseLinkedArchive(target);
    CheckIo();
  }
  OpenAppend(archive);
  RefuseLinkedArchive(target);
  CheckIo();

  CopyText(log, archive);

  const bool sizeKnown = deleteOriginal && CopiedSize(log, &copiedSize);
  if (deleteOriginal && !sizeKnown) NoteKeptLog(source, FailedCallError());
  CloseStream(log);
  CheckIo();
  CloseStream(archive);
  CheckIo();

  // The log goes only after its text is safely in the closed archive.
  if (sizeKnown) {
    FlushArchive(target, !exists);
    if (!RemoveLog(source, copiedSize)) NoteKeptLog(source, FailedCallError());
  }
}

}  // namespace quilbo
