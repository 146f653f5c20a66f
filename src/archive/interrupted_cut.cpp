// Finishing a cut that an earlier run left half done.
//
// A cut renames the archive to "<archive>.tmp" (atomically), then copies
// the last limit bytes of the .tmp into a new file under the archive's
// name, then removes the .tmp. So while a .tmp exists, it is the whole
// archive as it was before that cut, and the archive's name holds at most
// a copy of a part of its tail: bytes [tmpSize - limit, tmpSize - limit +
// n) for a limit of k × 1024 bytes, k >= 1. Appending to that partial
// copy would strand the rest under the .tmp, so the .tmp goes back first.
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/archive_log.h"
#include "errors/io_status.h"
#include "errors/raise.h"
#include "fs/block_file.h"
#include "fs/file_helpers.h"
#include "fs/folder_lock.h"

namespace quilbo {

namespace {

constexpr std::int64_t kKilobyte = 1024;

// Opens name, a name of archive's, for reading; false when there is no
// such file. Any other failure ends the run.
bool OpenIfPresent(BlockFile& file, std::string_view name, std::string_view archive) {
  AttachName(file, name);
  OpenRead(file, 1);
  const std::int32_t code = TakeIoStatus();
  if (code == kErrFileNotFound || code == kErrPathNotFound) return false;
  StoreIoFailure(code);
  RefuseLinkedArchive(archive);
  CheckIo();
  return true;
}

// Reads exactly count bytes at the file's position; false when it ends
// first.
bool ReadExactly(BlockFile& file, char* buffer, std::uint32_t count) {
  std::uint32_t got = 0;
  while (got < count) {
    std::uint32_t done = 0;
    ReadBlock(file, buffer + got, count - got, &done);
    CheckIo();
    if (done == 0) return false;
    got += done;
  }
  return true;
}

struct Buffers {
  char* kept;
  char* partial;
};

// Whether the partial file's bytes equal those of the kept file from
// start on.
bool SameBytesFrom(BlockFile& kept, BlockFile& partial, std::int64_t start,
                   std::int64_t length, const Buffers& buffers) {
  SeekTo(kept, start);
  CheckIo();
  SeekTo(partial, 0);
  CheckIo();
  for (std::int64_t left = length; left > 0;) {
    const auto count = static_cast<std::uint32_t>(
        left < kTruncateBlock ? left : static_cast<std::int64_t>(kTruncateBlock));
    if (!ReadExactly(kept, buffers.kept, count) ||
        !ReadExactly(partial, buffers.partial, count))
      return false;
    if (std::memcmp(buffers.kept, buffers.partial, count) != 0) return false;
    left -= count;
  }
  return true;
}

// Whether partial is exactly a slice of kept that starts where a cut of
// kept starts. This run's limit is tried first; then every other limit,
// each first on the slice's first kilobyte.
bool IsCutSlice(BlockFile& kept, std::int64_t keptSize, BlockFile& partial,
                std::int64_t partialSize, std::int32_t truncateKb) {
  if (partialSize == 0) return true;
  auto fits = [&](std::int64_t limit) {
    // A cut happens only to an archive over its limit.
    return limit >= partialSize && limit < keptSize;
  };
  // Two block buffers and, behind them, the first kilobyte of the slice:
  // the candidate starts lie 1024 bytes apart. A failure ends the run
  // anywhere in here, so the memory is the program's own, not the heap's.
  static char memory[2 * kTruncateBlock + kKilobyte];
  const Buffers buffers{memory, memory + kTruncateBlock};
  char* first = memory + 2 * kTruncateBlock;
  const std::int64_t runLimit = static_cast<std::int64_t>(truncateKb) * kKilobyte;
  bool found = truncateKb > 0 && fits(runLimit) &&
               SameBytesFrom(kept, partial, keptSize - runLimit, partialSize, buffers);
  if (!found) {
    const auto head = static_cast<std::uint32_t>(
        partialSize < kKilobyte ? partialSize : kKilobyte);
    SeekTo(partial, 0);
    CheckIo();
    const bool whole = ReadExactly(partial, first, head);
    for (std::int64_t limit = (partialSize + kKilobyte - 1) / kKilobyte * kKilobyte;
         whole && !found && fits(limit); limit += kKilobyte) {
      if (limit == runLimit) continue;
      SeekTo(kept, keptSize - limit);
      CheckIo();
      if (!ReadExactly(kept, buffers.kept, head) ||
          std::memcmp(buffers.kept, first, head) != 0)
        continue;
      found = SameBytesFrom(kept, partial, keptSize - limit, partialSize, buffers);
    }
  }
  return found;
}

// The end of a path, so that a report keeps the names that tell.
std::string Tail(std::string_view path, std::size_t most) {
  if (path.size() <= most) return std::string(path);
  return "..." + std::string(path.substr(path.size() - (most - 3)));
}

[[noreturn]] void RefuseToAppend(std::string_view target, std::string_view tmp) {
  char message[256];
  std::snprintf(message, sizeof message,
                "Archive %s holds bytes that %s lacks; an earlier cut was "
                "interrupted. Keep what you need of both, then delete the .tmp",
                Tail(ConsoleForm(target), 75).c_str(), Tail(ConsoleForm(tmp), 75).c_str());
  RaiseError(message);
}

}  // namespace

CutRecovery InspectInterruptedCut(std::string_view target,
                                  std::int32_t truncateKb) {
  const std::string tmp = std::string(target) + ".tmp";
  // A name the platform cannot take cannot exist either: no cut of this
  // archive was ever begun.
  if (!PathFits(tmp)) return CutRecovery::kNone;
  BlockFile kept{};
  if (!OpenIfPresent(kept, tmp, target)) return CutRecovery::kNone;
  BlockFile partial{};
  bool slice = true;  // a missing archive holds nothing the .tmp lacks
  if (OpenIfPresent(partial, target, target)) {
    const std::int64_t keptSize = SizeOf(kept);
    CheckIo();
    const std::int64_t partialSize = SizeOf(partial);
    CheckIo();
    slice = IsCutSlice(kept, keptSize, partial, partialSize, truncateKb);
    CloseStream(partial);
    CheckIo();
  }
  CloseStream(kept);
  CheckIo();
  return slice ? CutRecovery::kRestore : CutRecovery::kConflict;
}

void FinishInterruptedCut(std::string_view target, std::int32_t truncateKb) {
  const CutRecovery found = InspectInterruptedCut(target, truncateKb);
  if (found == CutRecovery::kNone) return;
  const std::string tmp = std::string(target) + ".tmp";
  if (found == CutRecovery::kConflict) RefuseToAppend(target, tmp);
  // Only now that the partial copy is known to hold nothing of its own
  // does it go. A run that dies right after leaves the .tmp alone, which
  // the next run puts back.
  if (!RemoveFile(target)) {
    const std::int32_t code = FailedCallError();
    if (code != kErrFileNotFound) {
      StoreIoFailure(code);
      CheckIo();
    }
  }
  BlockFile whole{};
  AttachName(whole, tmp);
  RenameFile(whole, target);
  CheckIo();
  FlushArchiveFolder();
  CheckIo();
}

}  // namespace quilbo
