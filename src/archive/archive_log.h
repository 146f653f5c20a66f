// Appending one log to its archive, and keeping archives under their limit.
#ifndef QUILBO_ARCHIVE_ARCHIVE_LOG_H_
#define QUILBO_ARCHIVE_ARCHIVE_LOG_H_

#include <cstdint>
#include <string_view>

namespace quilbo {

// Appends the text of source to target (created when missing), then cuts
// target to its last truncateKb KB when truncateKb > 0, then deletes
// source when asked. A failure ends the run through the report.
void ArchiveLogFile(std::string_view source, std::string_view target,
                    bool deleteOriginal, std::int32_t truncateKb);

// Ends the run with a report naming archive when the pending failure is a
// link of another user on its way, which is never followed.
void RefuseLinkedArchive(std::string_view archive);

// The size in the directory entry of path, or 0 when there is none.
std::int64_t FileSizeOf(std::string_view path);

// Cuts target to its last truncateKb × 1024 bytes through "<target>.tmp",
// so its content always exists whole under one of the two names.
void TruncateArchive(std::string_view target, std::int32_t truncateKb);

// Buffer size of each of the two streams of an append.
inline constexpr std::uint32_t kCopyBufferSize = 64 * 1024;

// Size of each block moved while cutting an archive.
inline constexpr std::uint32_t kTruncateBlock = 16384;

}  // namespace quilbo

#endif  // QUILBO_ARCHIVE_ARCHIVE_LOG_H_
