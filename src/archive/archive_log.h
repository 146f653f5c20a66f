// Appending one log to its archive, and keeping archives under their limit.
#ifndef QUILBO_ARCHIVE_ARCHIVE_LOG_H_
#define QUILBO_ARCHIVE_ARCHIVE_LOG_H_

#include <cstdint>
#include <string_view>

namespace quilbo {

struct PendingRemoval;
struct RunFolders;

// Appends the text of the log called log in the run's log folder, from its
// byte from on, to the archive called archive in the archive folder
// (created when missing), then cuts the archive to its last truncateKb KB
// when truncateKb > 0. With removal, a log whose text went in whole stays
// open in *removal for its deletion (its file is kInvalidHandle otherwise).
// A failure ends the run through the report.
void ArchiveLogFile(const RunFolders& folders, std::string_view log,
                    std::string_view archive, std::int64_t from,
                    std::int32_t truncateKb, PendingRemoval* removal);

// Logs that a run which died while deleting them left under an aside name
// (see platform/aside_name.h): what a writer added after the bytes already
// archived goes to the log's archive, then they join the group's deletion.
void FinishDeletions(const RunFolders& folders, std::int32_t truncateKb,
                     struct RemovalGroup& group);

// Ends the run with a report naming archive when the pending failure is a
// link of another user on its way, which is never followed.
void RefuseLinkedArchive(std::string_view archive);

// The size in the directory entry of path, or 0 when there is none.
std::int64_t FileSizeOf(std::string_view path);

// Cuts target to its last truncateKb × 1024 bytes through "<target>.tmp",
// so its content always exists whole under one of the two names. True
// when it cut: the new archive is then on the disk.
bool TruncateArchive(std::string_view target, std::int32_t truncateKb);

// What "<target>.tmp" tells about an earlier cut of target: none; one that
// was interrupted and can be undone (target is missing, or holds exactly a
// slice of the .tmp from where a cut starts: nothing the .tmp lacks); or
// one whose archive holds bytes of its own.
enum class CutRecovery : std::uint8_t { kNone, kRestore, kConflict };
CutRecovery InspectInterruptedCut(std::string_view target, std::int32_t truncateKb);

// Before a log is appended to target: puts the .tmp of an interrupted cut
// back under the archive's name, so nothing is lost or appended twice; when
// that could lose bytes, ends the run with a report naming both files.
void FinishInterruptedCut(std::string_view target, std::int32_t truncateKb);

// Buffer size of each of the two streams of an append.
inline constexpr std::uint32_t kCopyBufferSize = 64 * 1024;

// Size of each block moved while cutting an archive.
inline constexpr std::uint32_t kTruncateBlock = 16384;

}  // namespace quilbo

#endif  // QUILBO_ARCHIVE_ARCHIVE_LOG_H_
