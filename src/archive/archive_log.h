// Appending one log to its archive, and keeping archives under their limit.
#ifndef QUILBO_ARCHIVE_ARCHIVE_LOG_H_
#define QUILBO_ARCHIVE_ARCHIVE_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "textio/text_stream.h"

namespace quilbo {

struct PendingRemoval;
struct RunFolders;

// Appends the text of the log called log in the run's log folder, from its
// byte from on, to the archive called archive in the archive folder
// (created when missing), then cuts the archive to its last truncateKb KB
// when truncateKb > 0. With removal, a log whose text went in whole stays
// open in *removal for its deletion (its file is kInvalidHandle otherwise).
// A failure ends the run through the report.
void ArchiveLogFile(RunFolders& folders, std::string_view log,
                    std::string_view archive, std::int64_t from,
                    std::int32_t truncateKb, PendingRemoval* removal);

// Logs that a run which died while deleting them left under an aside name
// (see platform/aside_name.h): what a writer added after the bytes already
// archived goes to the log's archive, then they join the group's deletion.
// Only logs whose names the run's pattern (its last part, logPattern)
// matches are taken: another pattern's run has another archive folder.
void FinishDeletions(RunFolders& folders, std::string_view logPattern,
                     std::int32_t truncateKb, struct RemovalGroup& group);

// Ends the run with a report naming archive when the pending failure is a
// link of another user on its way, which is never followed.
void RefuseLinkedArchive(std::string_view archive);


// Buffer size of each of the two streams of an append.
inline constexpr std::uint32_t kCopyBufferSize = 64 * 1024;

// The name the n-th attempt of a cut of target writes its new file under:
// "<target>.tmp", then "<target>.<n>.tmp"; the archive's own name is cut
// where the whole does not fit the platform. Empty when nothing fits.
std::string CutFileName(std::string_view target, int n);

// What the text copy of a log amounts to, counted in one pass over it: a
// log byte becomes itself, CR nothing, LF CR LF; the text ends at the first
// 0x1A; a last line without its LF gets CR LF. Marks tie log offsets to
// copy offsets, so a copy can be taken up again near its last bytes.
struct CopyMark {
  std::int64_t log;
  std::int64_t copy;
};
inline constexpr int kCopyMarks = 64;
struct CopyCount {
  std::int64_t textEnd;  // log offset of the first 0x1A, or the bytes read
  std::int64_t copy;     // bytes the copy of the text writes
  bool endsOpen;         // the text ends without LF: CR LF follows
  bool markerFound;
  std::int64_t blocks;   // blocks counted
  std::int64_t spacing;  // blocks between marks
  int marks;
  CopyMark mark[kCopyMarks];
};

// Counting: Start, then Count each block in log order, then Finish. keep
// is the most copy bytes that may be kept: marks that only lie before
// those are let go. False from CountBlock once the text has ended.
void StartCount(CopyCount& count);
bool CountBlock(CopyCount& count, const char* block, std::uint32_t size, std::int64_t keep);
void FinishCount(CopyCount& count);
// The last mark at or before copy offset at.
CopyMark MarkBefore(const CopyCount& count, std::int64_t at);

// With /T, when archive plus the copy of log exceed limit: writes the last
// limit bytes of (the archive's text, then the copy) into a new file, which
// then replaces the archive in one step; the log is counted through once
// and its kept tail read again. False, the log back at its start, when the
// copy fits under the limit: the caller appends in place. old: the archive,
// open for reading and writing (kInvalidHandle: none yet), closed by a cut
// and left open for the caller's append otherwise. buffers: two of
// kCopyBufferSize. copiedSize: the log's size when the copy ended, or -1
// when it ended at an end marker.
// Every step works inside folders.archives.
bool AppendAndCut(TextStream& log, const RunFolders& folders, std::string_view archiveName,
                  OsHandle old, std::int64_t limit, char* buffers, std::int64_t* copiedSize);

}  // namespace quilbo

#endif  // QUILBO_ARCHIVE_ARCHIVE_LOG_H_
