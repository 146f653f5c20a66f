// Appending one log to its archive, and keeping archives under their limit.
#ifndef QUILBO_ARCHIVE_ARCHIVE_LOG_H_
#define QUILBO_ARCHIVE_ARCHIVE_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "textio/text_rule.h"
#include "textio/text_stream.h"

namespace quilbo {

struct RunFolders;

// Where the copy of a log ended: the log's size then, and the offset of its
// first end marker (0x1A), or -1 when its text ran to the end.
struct CopyEnd {
  std::int64_t size = -1;
  std::int64_t marker = -1;
};

// What an append did to a log that its caller may delete.
struct ArchivedLog {
  OsHandle file = kInvalidHandle;  // the log, still open (keepOpen only)
  // The log's size when its copy ended; -1 when the copy stopped at an end
  // marker (nothing after one is archived, so growth there loses nothing).
  std::int64_t copiedSize = -1;
  // After its end marker the log holds bytes other than end markers: not
  // all of it was archived (a binary or compressed file matched).
  bool moreThanText = false;
};

// Appends the text of the log called log in the run's log folder, from its
// byte from on, to the archive called archive in the archive folder
// (created when missing), then cuts the archive to its last truncateKb KB
// when truncateKb > 0. False when the log was gone (skipped without a
// word). With keepOpen the log stays open in done->file for its deletion.
// A failure ends the run through the report.
bool ArchiveLogFile(RunFolders& folders, std::string_view log, std::string_view archive,
                    std::int64_t from, std::int32_t truncateKb, bool keepOpen,
                    ArchivedLog* done);

// Ends the run with a report naming archive when the pending failure is a
// link of another user on its way, which is never followed.
void RefuseLinkedArchive(std::string_view archive);


// Buffer size of each of the two streams of an append.
inline constexpr std::uint32_t kCopyBufferSize = 64 * 1024;

// The name the n-th attempt of a cut of target writes its new file under:
// "<target>.tmp", then "<target>.<n>.tmp"; the archive's own name is cut
// where the whole does not fit the platform. Empty when nothing fits.
std::string CutFileName(std::string_view target, int n);

// What the text copy of a log amounts to, counted in one pass over it.
// Marks tie log offsets to copy offsets, so a copy can be taken up again
// near its last bytes.
struct CopyMark {
  std::int64_t log;
  std::int64_t copy;
};
inline constexpr int kCopyMarks = 64;
struct CopyCount {
  std::int64_t textEnd;  // log offset of the first 0x1A, or the bytes read
  std::int64_t copy;     // bytes the copy of the text writes
  TextState text;        // where the copy stood after the last byte counted
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

// With /T, when archive plus the copy of log (from its byte from on) exceed
// limit: writes the last limit bytes of (the archive's text, then the copy)
// into a new file, which then replaces the archive in one step; the log is
// counted through once and its kept tail read again. False, the log back
// at from, when the copy fits under the limit: the caller appends in place.
// old: the archive, open for reading and writing (kInvalidHandle: none
// yet), closed by a cut and left open for the caller's append otherwise.
// buffers: two of kCopyBufferSize. end: where the copy ended.
// Every step works inside folders.archives.
bool AppendAndCut(TextStream& log, std::int64_t from, const RunFolders& folders,
                  std::string_view archiveName, OsHandle old, std::int64_t limit, char* buffers,
                  CopyEnd* end);

}  // namespace quilbo

#endif  // QUILBO_ARCHIVE_ARCHIVE_LOG_H_
