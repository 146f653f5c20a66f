// Buffered, line-oriented text files and standard handles. Failures go to
// IoStatus; nothing here raises.
#ifndef QUILBO_TEXTIO_TEXT_STREAM_H_
#define QUILBO_TEXTIO_TEXT_STREAM_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "textio/counted_string.h"

namespace quilbo {

inline constexpr std::uint32_t kTextBufferSize = 128;
// Longest file name a stream takes, in characters: the platform's longest
// path (Windows 259 UTF-16 characters, Linux 4095 bytes).
inline constexpr int kMaxNameLength = kMaxPath - 1;

enum class StreamMode : std::uint8_t {
  kNeverAttached = 0,  // a zero-initialised record
  kClosed,
  kReading,
  kWriting,
  kAppending,  // only while an open is in progress
};

struct TextStream;
// Each hook returns 0 or an error number.
using StreamHook = std::int32_t (*)(TextStream& stream);

struct TextStream {
  OsHandle handle;
  StreamMode mode;
  std::uint32_t bufferSize;
  std::uint32_t position;
  std::uint32_t end;
  char* buffer;
  StreamHook OpenHook;
  StreamHook TransferHook;
  StreamHook FlushHook;
  StreamHook CloseHook;
  char name[kPathBytes];
  // The open folder that name is an entry of; kInvalidHandle when name is
  // a path of its own.
  OsHandle folder;
  // How a note shows that folder before name ("" or ending in a
  // separator); the caller's text, which outlives the stream.
  std::string_view shownFolder;
  // The walk's entry of name in folder while OpenReadFound opens it; null
  // otherwise.
  FindData* found;
  // Set when the name given was longer than the name field holds: the open
  // then fails instead of reaching a file under the cut name.
  bool nameTooLong;
  // Set by EndTransfersAtLines.
  bool lineTransfers;
  // With lineTransfers: bytes of the file's last line that earlier
  // transfers wrote without its line end (a line longer than the buffer).
  std::uint64_t unfinished;
  // Bytes the reads of the stream have brought in since it opened.
  std::uint64_t bytesRead;
  // Set by EndAtShortRead; then drained once a read came back short.
  bool shortReadEnds;
  bool drained;
  char builtIn[kTextBufferSize];
};

void AttachName(TextStream& stream, std::string_view name);
void AttachName(TextStream& stream, const CountedString& name);
// name is one entry of folder, a folder the platform opened, which notes
// show as shownFolder (kept as a view: the caller's text must outlive the
// stream).
void AttachName(TextStream& stream, OsHandle folder, std::string_view shownFolder,
                std::string_view name);
// Between AttachName and the open: the transfers of a disk file go through
// the caller's buffer of size bytes (128 or more; a smaller one is not
// taken), which must outlive the stream's use. A device or pipe opened for
// writing keeps the built-in buffer and its write-through.
void UseBuffer(TextStream& stream, char* buffer, std::uint32_t size);
// Between AttachName and the writing: a full buffer is written out only up
// to its last line end (all of it when it holds none), the rest staying for
// the next transfer, so a run that dies between transfers leaves whole
// lines. A transfer that fails (no room, a file-size limit) cuts the file
// back to its last whole line, where that transfer or the line it
// continued began.
void EndTransfersAtLines(TextStream& stream);
// Between AttachName and OpenRead, for a disk file: a read that brings
// less than the buffer holds ends the text (a disk file reads short only at
// its end), which spares the read that would only find the end.
void EndAtShortRead(TextStream& stream);
void OpenRead(TextStream& stream);
// Opens the stream for reading on the entry the walk found (its name and
// folder attached), as OpenRead opens the name: the open takes the handle
// the walk holds of it, where the platform holds one.
void OpenReadFound(TextStream& stream, FindData* found);
void OpenNew(TextStream& stream);
void OpenAppend(TextStream& stream);
// Opens the stream for writing on file, a disk file the caller has just
// created (empty); the stream closes it.
void OpenNewFile(TextStream& stream, OsHandle file);
// Opens the stream for appending on file, a disk file the caller has opened
// for reading and writing, as OpenAppend would; the stream closes it, also
// when this fails.
void OpenAppendFile(TextStream& stream, OsHandle file);
bool AtEnd(TextStream& stream);
bool AtLineEnd(TextStream& stream);
// The bytes up to the next LF or 0x1A without CRs, into piece (its
// capacity is kept from call to call).
void ReadPiece(TextStream& stream, std::string& piece);
void SkipLineEnd(TextStream& stream);
void WriteText(TextStream& stream, std::string_view text, std::int32_t width);
void WriteText(TextStream& stream, const CountedString& text,
               std::int32_t width);
void WriteLineEnd(TextStream& stream);
void EndStatement(TextStream& stream);
void CloseStream(TextStream& stream);
// Closes a stream open for reading but hands its file over, still open,
// instead of closing it; kInvalidHandle when it was not open for reading.
OsHandle DetachHandle(TextStream& stream);
// The stream's file as notes show it: its folder's shown form and its name.
std::string NotedPath(const TextStream& stream);

}  // namespace quilbo

#endif  // QUILBO_TEXTIO_TEXT_STREAM_H_
