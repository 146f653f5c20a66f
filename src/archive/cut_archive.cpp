// The cut: the bytes an archive keeps go into a new file beside it, which
// replaces the archive in one step once it is on the disk. At every moment
// the archive's name holds the whole archive or its cut form, and where the
// file system allows, the new file is complete and flushed before it has
// any name, so a leftover of a dead run is always a whole cut.
#include <algorithm>
#include <cstring>
#include <string>

#include "archive/archive_log.h"
#include "errors/io_status.h"
#include "errors/notes.h"
#include "fs/file_helpers.h"
#include "fs/folder_lock.h"
#include "fs/run_folders.h"
#include "platform/platform.h"

namespace quilbo {

namespace {

constexpr unsigned char kEndMarker = 0x1A;
// Bytes of an archive searched for the end marker that an append cuts.
constexpr std::int64_t kMarkerWindow = 128;
// Longest name of one folder entry.
constexpr std::size_t kMaxNameBytes = 255;
// Names tried for the new file before the cut gives up.
constexpr int kCutNames = 16;
// Files found under those names that are compared with the kept bytes.
constexpr int kMaxLeftovers = 4;

// A file found under a name the cut wanted. It was made by an earlier cut
// that died only if it holds some bytes and they are exactly the start of
// what this cut keeps; only then is it removed, after the replace.
struct Leftover {
  std::string name;
  OsHandle handle;
  std::int64_t size;
  bool matches;
};

// Every step works inside the open archive folder; names are kept as
// paths for the notes, and their entry starts at entry.
struct CutFile {
  OsHandle folder;
  std::size_t entry;
  std::string target;
  OsHandle model;  // whose access the new file takes
  std::string name;  // empty while the new file has none
  OsHandle handle = kInvalidHandle;
  bool unnamed = false;  // the new file gets its name once it is complete
  int freeName = 0;      // the first of the cut's names found free
  Leftover leftovers[kMaxLeftovers];
  int found = 0;
  std::int64_t written = 0;
  char* buffer;
  std::uint32_t fill = 0;
};

void StoreFailedCall(const char* step, std::string_view subject,
                     std::string_view other = {}) {
  StoreIoFailureOn(FailedCallError(), step, subject, other);
}

const char* EntryOf(const CutFile& cut, const std::string& path) {
  return path.c_str() + cut.entry;
}

// The new file's name for the notes: the one it has, or will get.
std::string ShownName(const CutFile& cut) {
  return cut.name.empty() && cut.unnamed ? CutFileName(cut.target, cut.freeName) : cut.name;
}

void NoteLeftover(CutFile& cut, const std::string& name) {
  if (cut.found == kMaxLeftovers) return;
  const PlatformApi& os = Os();
  // Read only: a file the run did not make is never written.
  const OsHandle file =
      os.createFileAt(cut.folder, EntryOf(cut, name), FileAccess::kRead, FileCreation::kOpenExisting);
  if (file == kInvalidHandle) return;  // a folder, another user's link...
  std::int64_t size = 0;
  if (!os.setFilePointer(file, 0, SeekFrom::kEnd, &size) ||
      !os.setFilePointer(file, 0, SeekFrom::kBegin, nullptr) || size == 0) {
    os.closeHandle(file);
    return;
  }
  cut.leftovers[cut.found++] = Leftover{name, file, size, true};
}

// Whether a name the cut wanted holds something (a folder, another user's
// link): never the cut's to take.
bool Taken(const CutFile& cut, const std::string& name, std::int32_t code) {
  FindData found{};
  return code == kErrFileExists || code == kErrUntrustedLink ||
         (code == kErrAccessDenied && LookUpFileAt(cut.folder, EntryOf(cut, name), &found));
}

// Where the file system has no unnamed files (exFAT, FUSE mounts, Windows)
// the new file is made exclusively under the first free name with the
// first block of its bytes, so it has its name before it is complete. A
// run killed then leaves it partial, which the next cut removes when its
// bytes begin what that cut keeps. A power loss before its bytes reach the
// disk can leave it empty (or, on some systems, holding zeros): such a
// file cannot be told from another log's archive, so it stays, and later
// cuts take the next free name.
void CreateNamedCutFile(CutFile& cut) {
  const PlatformApi& os = Os();
  for (int n = 0; n < kCutNames; ++n) {
    const std::string name = CutFileName(cut.target, n);
    if (name.empty()) return StoreIoFailureOn(kErrFilenameTooLong, "create", name);
    cut.handle = os.createFileAsAt(cut.folder, EntryOf(cut, name), cut.model, cut.buffer, cut.fill);
    if (cut.handle != kInvalidHandle) {
      cut.name = name;
      return;
    }
    const std::int32_t code = FailedCallError();
    if (!Taken(cut, name, code)) return StoreIoFailureOn(code, "create", name);
    NoteLeftover(cut, name);
  }
  StoreIoFailureOn(kErrFileExists, "create", CutFileName(cut.target, 0));
}

// The new file, unnamed where the file system allows: then the names it
// may get are looked at first, the files found under them noted, and it
// gets the first free one once its bytes are on the disk.
void StartCutFile(CutFile& cut) {
  const PlatformApi& os = Os();
  cut.handle = os.createUnnamedAt(cut.folder, cut.model);
  if (cut.handle == kInvalidHandle) {
    // Any other failure comes again from the named creation, with its name.
    return;
  }
  cut.unnamed = true;
  for (; cut.freeName < kCutNames; ++cut.freeName) {
    const std::string name = CutFileName(cut.target, cut.freeName);
    if (name.empty()) return StoreIoFailureOn(kErrFilenameTooLong, "create", name);
    FindData found{};
    if (!LookUpFileAt(cut.folder, EntryOf(cut, name), &found)) {
      const std::int32_t code = FailedCallError();
      if (code == kErrFileNotFound || code == kErrPathNotFound) return;
    }
    NoteLeftover(cut, name);
  }
  StoreIoFailureOn(kErrFileExists, "create", CutFileName(cut.target, 0));
}

// The complete, flushed file gets the first free name; a name taken since
// it was looked at (a link that led nowhere, another program's file) is
// passed over.
void NameCutFile(CutFile& cut) {
  const PlatformApi& os = Os();
  for (int n = cut.freeName; n < kCutNames; ++n) {
    const std::string name = CutFileName(cut.target, n);
    if (name.empty()) return StoreIoFailureOn(kErrFilenameTooLong, "create", name);
    if (os.nameFileAt(cut.folder, cut.handle, EntryOf(cut, name))) {
      cut.name = name;
      return;
    }
    const std::int32_t code = FailedCallError();
    if (!Taken(cut, name, code)) return StoreIoFailureOn(code, "create", name);
  }
  StoreIoFailureOn(kErrFileExists, "create", CutFileName(cut.target, 0));
}

void CompareLeftovers(CutFile& cut, const char* bytes, std::uint32_t count) {
  const PlatformApi& os = Os();
  char theirs[4096];
  for (int i = 0; i < cut.found; ++i) {
    Leftover& left = cut.leftovers[i];
    std::int64_t at = cut.written;
    std::uint32_t done = 0;
    while (left.matches && at < left.size && done < count) {
      const auto want = static_cast<std::uint32_t>(
          std::min<std::int64_t>({static_cast<std::int64_t>(sizeof theirs), left.size - at,
                                  static_cast<std::int64_t>(count - done)}));
      std::uint32_t got = 0;
      left.matches = os.readFile(left.handle, theirs, want, &got) && got == want &&
                     std::memcmp(theirs, bytes + done, want) == 0;
      done += want;
      at += want;
    }
  }
}

// Writes out the buffered bytes of the new file.
void Transfer(CutFile& cut) {
  if (cut.fill == 0) return;
  if (cut.handle == kInvalidHandle) {
    CreateNamedCutFile(cut);
  } else {
    std::uint32_t done = 0;
    if (!Os().writeFile(cut.handle, cut.buffer, cut.fill, &done))
      StoreFailedCall("write", ShownName(cut));
  }
  RefuseLinkedArchive(cut.target);
  CheckIo();
  CompareLeftovers(cut, cut.buffer, cut.fill);
  cut.written += cut.fill;
  cut.fill = 0;
}

void Put(CutFile& cut, const char* bytes, std::uint32_t count) {
  while (count != 0) {
    const std::uint32_t take = std::min(count, kCopyBufferSize - cut.fill);
    std::memcpy(cut.buffer + cut.fill, bytes, take);
    cut.fill += take;
    bytes += take;
    count -= take;
    if (cut.fill == kCopyBufferSize) Transfer(cut);
  }
}

// The archive being cut, open inside its folder.
struct OldArchive {
  OsHandle handle;
  const std::string& path;
};

void SeekArchive(const OldArchive& archive, std::int64_t to, SeekFrom from, std::int64_t* at) {
  if (!Os().setFilePointer(archive.handle, to, from, at)) StoreFailedCall("seek in", archive.path);
  CheckIo();
}

std::uint32_t ReadArchive(const OldArchive& archive, char* into, std::uint32_t count) {
  std::uint32_t got = 0;
  if (!Os().readFile(archive.handle, into, count, &got)) StoreFailedCall("read", archive.path);
  CheckIo();
  return got;
}

// The archive's text: its bytes up to the first 0x1A within its last 128.
std::int64_t TextSizeOf(const OldArchive& archive) {
  std::int64_t size = 0;
  SeekArchive(archive, 0, SeekFrom::kEnd, &size);
  const std::int64_t start = std::max<std::int64_t>(size - kMarkerWindow, 0);
  char tail[kMarkerWindow];
  SeekArchive(archive, start, SeekFrom::kBegin, nullptr);
  const std::uint32_t got = ReadArchive(archive, tail, static_cast<std::uint32_t>(size - start));
  const void* marker = std::memchr(tail, kEndMarker, got);
  return marker == nullptr ? size : start + (static_cast<const char*>(marker) - tail);
}

void CopyArchiveTail(CutFile& cut, const OldArchive& archive, std::int64_t from,
                     std::int64_t count) {
  SeekArchive(archive, from, SeekFrom::kBegin, nullptr);
  while (count > 0) {
    const auto want = static_cast<std::uint32_t>(
        std::min<std::int64_t>(count, kCopyBufferSize - cut.fill));
    const std::uint32_t got = ReadArchive(archive, cut.buffer + cut.fill, want);
    if (got == 0) break;  // shrank under us: nothing more to keep
    cut.fill += got;
    count -= got;
    if (cut.fill == kCopyBufferSize) Transfer(cut);
  }
}

// The copy of the log from mark on, its first skip bytes left out.
// Log offsets count from origin, where the copy began.
void CopyLogTail(CutFile& cut, TextStream& log, std::int64_t origin, const CopyCount& count,
                 CopyMark mark, std::int64_t skip, char* block) {
  static constexpr char kLineEnd[] = "\r\n";
  const PlatformApi& os = Os();
  if (!os.setFilePointer(log.handle, origin + mark.log, SeekFrom::kBegin, nullptr))
    StoreFailedCall("read", log.name);
  CheckIo();
  std::int64_t at = mark.log;
  while (at < count.textEnd) {
    const auto want = static_cast<std::uint32_t>(
        std::min<std::int64_t>(count.textEnd - at, kCopyBufferSize));
    std::uint32_t got = 0;
    if (!os.readFile(log.handle, block, want, &got)) StoreFailedCall("read", log.name);
    CheckIo();
    if (got == 0) break;
    at += got;
    for (std::uint32_t i = 0; i < got; ++i) {
      const char byte = block[i];
      if (byte == '\r') continue;
      if (byte == '\n') {
        const std::int64_t drop = std::min<std::int64_t>(skip, 2);
        skip -= drop;
        Put(cut, kLineEnd + drop, static_cast<std::uint32_t>(2 - drop));
      } else if (skip > 0) {
        --skip;
      } else {
        if (cut.fill == kCopyBufferSize) Transfer(cut);
        cut.buffer[cut.fill++] = byte;
      }
    }
  }
  if (count.endsOpen) {
    const std::int64_t drop = std::min<std::int64_t>(skip, 2);
    Put(cut, kLineEnd + drop, static_cast<std::uint32_t>(2 - drop));
  }
}

// Where no move can refuse to replace (exFAT), the archive's name is first
// claimed by an exclusive creation, which fails where a file has appeared
// under it, and the new file then replaces that empty archive of ours. A
// run that dies in between leaves an empty archive, as one that dies right
// after creating an archive: its log is still there.
bool ClaimAndReplace(const CutFile& cut) {
  const PlatformApi& os = Os();
  const OsHandle claim = os.createFileAsAt(cut.folder, EntryOf(cut, cut.target), cut.model, nullptr, 0);
  if (claim == kInvalidHandle || !os.closeHandle(claim)) return false;
  if (os.moveFileOverAt(cut.folder, EntryOf(cut, cut.name), EntryOf(cut, cut.target), true)) return true;
  const std::int32_t code = FailedCallError();
  os.deleteFileAt(cut.folder, EntryOf(cut, cut.target));
  os.setLastError(code);
  return false;
}

// The new file on the disk, under the archive's name; then the earlier
// cuts' leftovers go.
void ReplaceArchive(CutFile& cut, bool exists) {
  Transfer(cut);
  const PlatformApi& os = Os();
  if (!os.flushFile(cut.handle)) StoreFailedCall("flush", ShownName(cut));
  CheckIo();
  if (cut.unnamed) NameCutFile(cut);
  CheckIo();
  const bool closed = os.closeHandle(cut.handle);
  cut.handle = kInvalidHandle;
  if (!closed) StoreFailedCall("close", cut.name);
  CheckIo();
  // Where the archive was missing, a file that has appeared under its name
  // since is not replaced.
  bool moved = os.moveFileOverAt(cut.folder, EntryOf(cut, cut.name), EntryOf(cut, cut.target), exists);
  if (!moved && !exists && FailedCallError() == kErrNotSupported) moved = ClaimAndReplace(cut);
  if (!moved) StoreFailedCall("rename", cut.name, cut.target);
  CheckIo();
  cut.name.clear();
  FlushArchiveFolder();
  CheckIo();
  for (int i = 0; i < cut.found; ++i) {
    Leftover& left = cut.leftovers[i];
    os.closeHandle(left.handle);
    if (left.matches && left.size <= cut.written)
      os.deleteFileAt(cut.folder, EntryOf(cut, left.name));
  }
}

// A cut that fails takes back the file it made: no one else knows it, and
// a later cut would not keep the same bytes, so it would stay forever.
void DropCutFile(CutFile& cut) {
  if (cut.handle != kInvalidHandle) Os().closeHandle(cut.handle);
  cut.handle = kInvalidHandle;
  if (!cut.name.empty()) Os().deleteFileAt(cut.folder, EntryOf(cut, cut.name));
  cut.name.clear();
}

void CloseLeftovers(CutFile& cut) {
  for (int i = 0; i < cut.found; ++i) Os().closeHandle(cut.leftovers[i].handle);
  cut.found = 0;
}

bool Rewind(TextStream& log, std::int64_t origin) {
  log.position = 0;
  log.end = 0;
  if (!Os().setFilePointer(log.handle, origin, SeekFrom::kBegin, nullptr))
    StoreFailedCall("read", log.name);
  CheckIo();
  return false;
}

}  // namespace

std::string CutFileName(std::string_view target, int n) {
  const std::size_t slash = target.rfind(kPathSeparator);
  const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
  std::string suffix = ".";
  if (n != 0) suffix.append(std::to_string(n)).append(".");
  suffix.append("tmp");
  std::string_view name = target.substr(start);
  // Lengths in the characters the platform's limits count; a shortened
  // name never ends inside a character.
  const std::size_t limit = static_cast<std::size_t>(kMaxPath) - 1;
  const std::size_t folder = CharacterCount(target.substr(0, start));
  if (folder + suffix.size() >= limit || suffix.size() >= kMaxNameBytes) return {};
  const std::size_t room = std::min(kMaxNameBytes - suffix.size(), limit - folder - suffix.size());
  if (CharacterCount(name) > room) name = name.substr(0, CharactersPrefix(name, room, name.size()));
  return std::string(target.substr(0, start)) + std::string(name) + suffix;
}

bool AppendAndCut(TextStream& log, std::int64_t from, const RunFolders& folders,
                  std::string_view archiveName, OsHandle old, std::int64_t limit, char* buffers,
                  CopyEnd* end) {
  const PlatformApi& os = Os();
  const std::string target = NotedPath(folders.archives, archiveName);
  const bool exists = old != kInvalidHandle;
  OldArchive archive{old, target};
  const std::int64_t text = exists ? TextSizeOf(archive) : 0;
  const auto closeArchive = [&] {
    if (!exists) return;
    const bool closed = os.closeHandle(archive.handle);
    archive.handle = kInvalidHandle;
    if (!closed) StoreFailedCall("close", target);
    CheckIo();
  };
  // A log whose copy cannot pass the limit is appended without counting.
  std::int64_t logSize = 0;
  if (!os.setFilePointer(log.handle, 0, SeekFrom::kEnd, &logSize)) StoreFailedCall("read", log.name);
  CheckIo();
  logSize = std::max<std::int64_t>(logSize - from, 0);
  if (text + 2 * logSize + 2 <= limit) return Rewind(log, from);
  if (!os.setFilePointer(log.handle, from, SeekFrom::kBegin, nullptr)) StoreFailedCall("read", log.name);
  CheckIo();

  char* block = buffers + kCopyBufferSize;
  CopyCount count;
  StartCount(count);
  std::int64_t readEnd = 0;
  for (;;) {
    std::uint32_t got = 0;
    if (!os.readFile(log.handle, block, kCopyBufferSize, &got)) StoreFailedCall("read", log.name);
    CheckIo();
    readEnd += got;
    if (!CountBlock(count, block, got, limit)) break;
  }
  FinishCount(count);
  if (text + count.copy <= limit) return Rewind(log, from);

  CutFile cut{};
  cut.folder = folders.archives;
  cut.target = target;
  cut.entry = target.size() - archiveName.size();
  cut.model = exists ? archive.handle : log.handle;
  cut.buffer = buffers;
  try {
    StartCutFile(cut);
    CheckIo();
    const std::int64_t fromLog = std::min(count.copy, limit);
    if (exists) {
      CopyArchiveTail(cut, archive, text - (limit - fromLog), limit - fromLog);
    }
    const std::int64_t skip = count.copy - fromLog;
    const CopyMark mark = MarkBefore(count, skip);
    CopyLogTail(cut, log, from, count, mark, skip - mark.copy, block);
    // The archive gives the new file its access, so it closes only once that
    // file exists; and before the replace, which an open archive would stop.
    Transfer(cut);
    closeArchive();
    ReplaceArchive(cut, exists);
  } catch (...) {
    DropCutFile(cut);
    CloseLeftovers(cut);
    throw;
  }
  CloseLeftovers(cut);
  end->size = from + readEnd;
  end->marker = count.markerFound ? from + count.textEnd : -1;
  return true;
}

}  // namespace quilbo
