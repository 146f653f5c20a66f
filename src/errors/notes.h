// Notes for a person on standard error, one line each: "quilbo: " and the
// text. Standard output keeps its exact bytes; a note says what it cannot:
// the file a failure concerns and the system's own reason, a folder that
// could not be searched, a wait, a log that had to be kept.
#ifndef QUILBO_ERRORS_NOTES_H_
#define QUILBO_ERRORS_NOTES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "errors/exceptions.h"
#include "platform/platform.h"

namespace quilbo {

// Writes one note, printf-style, with one write; a failed write is ignored.
[[gnu::format(printf, 1, 2)]] void WriteNote(const char* format, ...);

// The system's reason for a failure: that of its cause, the errno of the
// call that failed (FailedCall keeps it), when it has one; else of its
// code, whose program's own values (100 to 106) get the report's message.
void DescribeFailure(SystemFailure failure, char* out, std::uint32_t size);
// The same for a code without a cause.
void DescribeFailure(std::int32_t code, char* out, std::uint32_t size);

// Stores the failure's code as StoreIoFailure does and remembers, for the
// failure report's note, what failed ("cannot <step> <subject>", "... to
// <other>") and the system's reason.
void StoreIoFailureOn(SystemFailure failure, const char* step,
                      std::string_view subject, std::string_view other = {});
// The same for code: the number of the platform call that just failed (its
// cause is taken now, while the system still knows it), or the program's
// own.
void StoreIoFailureOn(std::int32_t code, const char* step,
                      std::string_view subject, std::string_view other = {});

// The same for a failure on subject, an entry of folder, which could not
// be opened: when the run could not make folder either (notMade, code 0
// when it did, or found it there), the note says why, since that is where
// the failure comes from.
void StoreIoFailureInFolder(SystemFailure failure, const char* step, std::string_view subject,
                            std::string_view folder, SystemFailure notMade);

// A walk of the pattern's folder (patternDir, as typed) that ended with
// failure: anything but "no (more) match" means the folder could not be
// read, which a person is told, with the reason, though the run ends as
// one that found nothing.
void NoteUnreadFolder(std::string_view patternDir, SystemFailure failure);

// The note of the failure report for exception: for an I/O failure the
// file (when the failed step named one) and the system's reason, else the
// report's message.
void WriteFailureNote(const Exception& exception);

}  // namespace quilbo

#endif  // QUILBO_ERRORS_NOTES_H_
