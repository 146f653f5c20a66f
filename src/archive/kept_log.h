// The note for a log that /D had to keep: its text stays and is archived
// again by the next run, which a person should know, and why.
#ifndef QUILBO_ARCHIVE_KEPT_LOG_H_
#define QUILBO_ARCHIVE_KEPT_LOG_H_

#include <cstdint>
#include <string_view>

namespace quilbo {

// Writes the note for log, whose deletion failed with code.
void NoteKeptLog(std::string_view log, std::int32_t code);

}  // namespace quilbo

#endif  // QUILBO_ARCHIVE_KEPT_LOG_H_
