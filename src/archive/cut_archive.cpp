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
#include "fs/block_file.h"
#include "fs/file_helpers.h"
#include "fs/folder_lock.h"
#include "fs/run_folders.h"
#include "platform/platform.h"
#include "textio/text_rule.h"

namespace quilbo {

namespace {

// Longest name of one folder entry.
constexpr std::size_t kMaxNameBytes = 255;
// Names tried for the new file before the cut gives up.
constexpr int kCutNames = 16;
// Files found under those names that are compared with the kept bytes.
constexpr int kMaxLeftovers = 4;
// Log bytes converted at a time on their way into the new file's buffer.
constexpr std::uint32_t kConvertSpan = 4096;

// A file found under a name the cut wanted. It was made by an earlier cut
// that died only if it holds some bytes and they are exactly the start of
// what this cut keeps; only then is it removed, after the replace.
struct Leftover {
  std::string name;
  BlockFile file;  // open for reading only
  std::int64_t size;
  bool matches;
};

// Every step works inside the open archive folder; names are kept as
// paths for the notes, and their entry starts at entry.
struct CutFile {
  OsHandle folder;
  OsHandle lock;  // the archive folder's, whose names a flush makes durable
  std::size_t entry;
  std::string target;
  OsHandle model;  // whose access the new file takes
  std::string name;  // empty while the new file has none
  BlockFile file;    // the new file, open once made
  bool unnamed = false;  // the new file gets its name once it is complete
  int freeName = 0;      // the first of the cut's names found free
  Leftover leftovers[kMaxLeftovers];
  int found = 0;
  std::int64_t written = 0;
  char* buffer;
  std::uint32_t fill = 0;
};

const char* EntryOf(const CutFile& cut, const std::string& path) {
  return path.c_str() + cut.entry;
}

// file, open on handle, is called name in the notes of its failures.
void OpenOn(BlockFile& file, OsHandle handle, std::string_view name) {
  AttachName(file, name);
  OpenHandle(file, handle, 1);
}

// No name of the cut's form fits beside the archive: the note names the
// first of them as it would have been, since the name itself is empty.
void NoRoomForName(const CutFile& cut) {
  StoreIoFailureOn(kErrFilenameTooLong, "create", cut.target + ".tmp");
}

void NoteLeftover(CutFile& cut, const std::string& name) {
  if (cut.found == kMaxLeftovers) return;
  // Read only: a file the run did not make is never written.
  const OsHandle handle =
      Os().createFileAt(cut.folder, EntryOf(cut, name), FileAccess::kRead, FileCreation::kOpenExisting);
  if (handle == kInvalidHandle) return;  // a folder, another user's link...
  Leftover& left = cut.leftovers[cut.found];
  OpenOn(left.file, handle, name);
  left.size = SizeOf(left.file);
  if (TakeIoStatus() != 0 || left.size <= 0) return DiscardFile(left.file);
  left.name = name;
  left.matches = true;
  ++cut.found;
}

// Whether a name the cut wanted holds something (a folder, another user's
// link): never the cut's to take.
bool Taken(const CutFile& cut, const std::string& name, std::int32_t code) {
  FileInfo found{};
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
  for (int n = 0; n < kCutNames; ++n) {
    const std::string name = CutFileName(cut.target, n);
    if (name.empty()) return NoRoomForName(cut);
    const OsHandle handle =
        Os().createFileAsAt(cut.folder, EntryOf(cut, name), cut.model, cut.buffer, cut.fill);
    if (handle != kInvalidHandle) {
      cut.name = name;
      return OpenOn(cut.file, handle, name);
    }
    const SystemFailure failure = FailedCall();
    if (!Taken(cut, name, failure.code)) return StoreIoFailureOn(failure, "create", name);
    NoteLeftover(cut, name);
  }
  StoreIoFailureOn(kErrFileExists, "create", CutFileName(cut.target, 0));
}

// The new file, unnamed where the file system allows: then the names it
// may get are looked at first, the files found under them noted, and it
// gets the first free one once its bytes are on the disk. Until then its
// notes call it by that name.
void StartCutFile(CutFile& cut) {
  const OsHandle handle = Os().createUnnamedAt(cut.folder, cut.model);
  // Any failure but the lack of such files comes again from the named
  // creation, with its name.
  if (handle == kInvalidHandle) return;
  OpenOn(cut.file, handle, CutFileName(cut.target, 0));
  cut.unnamed = true;
  for (; cut.freeName < kCutNames; ++cut.freeName) {
    const std::string name = CutFileName(cut.target, cut.freeName);
    if (name.empty()) return NoRoomForName(cut);
    FileInfo found{};
    if (!LookUpFileAt(cut.folder, EntryOf(cut, name), &found)) {
      const std::int32_t code = FailedCallError();
      if (code == kErrFileNotFound || code == kErrPathNotFound) {
        if (cut.freeName != 0) OpenOn(cut.file, handle, name);
        return;
      }
    }
    NoteLeftover(cut, name);
  }
  StoreIoFailureOn(kErrFileExists, "create", CutFileName(cut.target, 0));
}

// The complete, flushed file gets the first free name; a name taken since
// it was looked at (a link that led nowhere, another program's file) is
// passed over.
void NameCutFile(CutFile& cut) {
  for (int n = cut.freeName; n < kCutNames; ++n) {
    const std::string name = CutFileName(cut.target, n);
    if (name.empty()) return NoRoomForName(cut);
    if (Os().nameFileAt(cut.folder, cut.file.handle, EntryOf(cut, name))) {
      cut.name = name;
      if (n != cut.freeName) OpenOn(cut.file, cut.file.handle, name);
      return;
    }
    const SystemFailure failure = FailedCall();
    if (!Taken(cut, name, failure.code)) return StoreIoFailureOn(failure, "create", name);
  }
  StoreIoFailureOn(kErrFileExists, "create", CutFileName(cut.target, 0));
}

void CompareLeftovers(CutFile& cut, const char* bytes, std::uint32_t count) {
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
      ReadBlock(left.file, theirs, want, &got);
      // A failed read proves nothing: the file stays.
      left.matches = TakeIoStatus() == 0 && got == want && std::memcmp(theirs, bytes + done, want) == 0;
      done += want;
      at += want;
    }
  }
}

// Writes out the buffered bytes of the new file.
void Transfer(CutFile& cut) {
  if (cut.fill == 0) return;
  if (cut.file.mode != BlockMode::kOpen) {
    CreateNamedCutFile(cut);
  } else {
    WriteBlock(cut.file, cut.buffer, cut.fill, nullptr);
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

// The first skip bytes go nowhere; the rest into the new file.
void PutAfter(CutFile& cut, std::int64_t& skip, const char* bytes, std::uint32_t count) {
  const auto dropped = static_cast<std::uint32_t>(std::min<std::int64_t>(skip, count));
  skip -= dropped;
  Put(cut, bytes + dropped, count - dropped);
}

// The archive's text: its bytes up to the first 0x1A within its last 128.
std::int64_t TextSizeOf(BlockFile& archive) {
  char window[kMarkerWindow];
  TextEnd end{};
  if (!FindTextEnd(archive.handle, window, &end)) StoreIoFailureOn(FailedCall(), "read", archive.name);
  CheckIo();
  return end.offset;
}

void CopyArchiveTail(CutFile& cut, BlockFile& archive, std::int64_t from, std::int64_t count) {
  SeekTo(archive, from);
  CheckIo();
  while (count > 0) {
    const auto want = static_cast<std::uint32_t>(
        std::min<std::int64_t>(count, kCopyBufferSize - cut.fill));
    std::uint32_t got = 0;
    ReadBlock(archive, cut.buffer + cut.fill, want, &got);
    CheckIo();
    if (got == 0) break;  // shrank under us: nothing more to keep
    cut.fill += got;
    count -= got;
    if (cut.fill == kCopyBufferSize) Transfer(cut);
  }
}

// The copy of the log from mark on, its first skip bytes left out.
// Log offsets count from origin, where the copy began.
void CopyLogTail(CutFile& cut, BlockFile& log, std::int64_t origin, const CopyCount& count,
                 CopyMark mark, std::int64_t skip, char* block) {
  SeekTo(log, origin + mark.log);
  CheckIo();
  TextState state{};
  char converted[2 * kConvertSpan];
  std::int64_t at = mark.log;
  while (at < count.textEnd && !state.ended) {
    const auto want = static_cast<std::uint32_t>(
        std::min<std::int64_t>(count.textEnd - at, kCopyBufferSize));
    std::uint32_t got = 0;
    ReadBlock(log, block, want, &got);
    CheckIo();
    if (got == 0) break;
    at += got;
    for (std::uint32_t used = 0; used < got && !state.ended;) {
      std::uint32_t took = 0;
      const std::uint32_t made =
          ConvertText(state, block + used, std::min(got - used, kConvertSpan), converted, &took);
      used += took;
      PutAfter(cut, skip, converted, made);
    }
  }
  PutAfter(cut, skip, kLineEnd, ClosingBytes(count.text));
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
  if (os.moveFileAt(cut.folder, EntryOf(cut, cut.name), cut.folder, EntryOf(cut, cut.target), true)) return true;
  const std::int32_t code = FailedCallError();
  os.deleteFileAt(cut.folder, EntryOf(cut, cut.target));
  os.setLastError(code);
  return false;
}

// The new file on the disk, under the archive's name; then the earlier
// cuts' leftovers go.
void ReplaceArchive(CutFile& cut, bool exists) {
  Transfer(cut);
  FlushFile(cut.file);
  CheckIo();
  if (cut.unnamed) NameCutFile(cut);
  CheckIo();
  CloseStream(cut.file);
  CheckIo();
  // Where the archive was missing, a file that has appeared under its name
  // since is not replaced.
  const PlatformApi& os = Os();
  bool moved = os.moveFileAt(cut.folder, EntryOf(cut, cut.name), cut.folder, EntryOf(cut, cut.target), exists);
  if (!moved && !exists && FailedCallError() == kErrNotSupported) moved = ClaimAndReplace(cut);
  if (!moved) StoreIoFailureOn(FailedCall(), "rename", cut.name, cut.target);
  CheckIo();
  cut.name.clear();
  FlushArchiveFolder(cut.lock);
  CheckIo();
  for (int i = 0; i < cut.found; ++i) {
    Leftover& left = cut.leftovers[i];
    DiscardFile(left.file);
    if (left.matches && left.size <= cut.written)
      os.deleteFileAt(cut.folder, EntryOf(cut, left.name));
  }
}

// A cut that fails takes back the file it made: no one else knows it, and
// a later cut would not keep the same bytes, so it would stay forever.
void DropCutFile(CutFile& cut) {
  DiscardFile(cut.file);
  if (!cut.name.empty()) Os().deleteFileAt(cut.folder, EntryOf(cut, cut.name));
  cut.name.clear();
}

void CloseLeftovers(CutFile& cut) {
  for (int i = 0; i < cut.found; ++i) DiscardFile(cut.leftovers[i].file);
  cut.found = 0;
}

// The log back at from, for its append in place.
bool Rewind(TextStream& stream, BlockFile& log, std::int64_t from) {
  stream.position = 0;
  stream.end = 0;
  SeekTo(log, from);
  CheckIo();
  return false;
}

// Counts what the copy of the log from its position adds, reading no
// further than the limit needs; gives the bytes read.
std::int64_t CountLogCopy(BlockFile& log, CopyCount& count, char* block, std::int64_t limit) {
  StartCount(count);
  std::int64_t readEnd = 0;
  for (;;) {
    std::uint32_t got = 0;
    ReadBlock(log, block, kCopyBufferSize, &got);
    CheckIo();
    readEnd += got;
    if (!CountBlock(count, block, got, limit)) break;
  }
  FinishCount(count);
  return readEnd;
}

// The log as the cut copies it: read from from, its copy counted in count.
struct CutLog {
  BlockFile* file;
  std::int64_t from;
  const CopyCount* count;
  char* block;
};

// The cut itself: the archive's last text that stays (archive: null for a
// new one), then the log's, into a new file that replaces the archive; a
// cut that fails leaves nothing of its own behind.
void WriteCut(CutFile& cut, BlockFile* archive, std::int64_t text, const CutLog& log,
              std::int64_t limit) {
  try {
    StartCutFile(cut);
    CheckIo();
    const std::int64_t fromLog = std::min(log.count->copy, limit);
    if (archive != nullptr)
      CopyArchiveTail(cut, *archive, text - (limit - fromLog), limit - fromLog);
    const std::int64_t skip = log.count->copy - fromLog;
    const CopyMark mark = MarkBefore(*log.count, skip);
    CopyLogTail(cut, *log.file, log.from, *log.count, mark, skip - mark.copy, log.block);
    // The archive gives the new file its access, so it closes only once that
    // file exists; and before the replace, which an open archive would stop.
    Transfer(cut);
    if (archive != nullptr) CloseStream(*archive);
    CheckIo();
    ReplaceArchive(cut, archive != nullptr);
  } catch (...) {
    DropCutFile(cut);
    CloseLeftovers(cut);
    throw;
  }
  CloseLeftovers(cut);
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
  const std::string target = folders.archiveShown + std::string(archiveName);
  const bool exists = old != kInvalidHandle;
  BlockFile archive{};
  if (exists) OpenOn(archive, old, target);
  const std::int64_t text = exists ? TextSizeOf(archive) : 0;
  // The stream keeps the log's handle: this record only reads through it
  // and is never closed.
  BlockFile logFile{};
  OpenOn(logFile, log.handle, NotedPath(log));
  // A log whose copy cannot pass the limit is appended without counting.
  const std::int64_t logSize = std::max<std::int64_t>(SizeOf(logFile) - from, 0);
  CheckIo();
  if (text + 2 * logSize + 2 <= limit) return Rewind(log, logFile, from);
  SeekTo(logFile, from);
  CheckIo();

  char* block = buffers + kCopyBufferSize;
  CopyCount count;
  const std::int64_t readEnd = CountLogCopy(logFile, count, block, limit);
  if (text + count.copy <= limit) return Rewind(log, logFile, from);

  CutFile cut{};
  cut.folder = folders.archives;
  cut.lock = folders.archiveLock;
  cut.target = target;
  cut.entry = target.size() - archiveName.size();
  cut.model = exists ? archive.handle : log.handle;
  cut.buffer = buffers;
  WriteCut(cut, exists ? &archive : nullptr, text, CutLog{&logFile, from, &count, block}, limit);
  end->size = from + readEnd;
  end->marker = count.text.ended ? from + count.textEnd : -1;
  return true;
}

}  // namespace quilbo
