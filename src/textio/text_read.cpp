// The reading side of text streams: pieces of lines, line ends and the end
// of the text. LF ends a line, CR is dropped, 0x1A ends the text.
#include "errors/io_status.h"
#include "textio/text_internal.h"
#include "textio/text_rule.h"
#include "textio/text_stream.h"

namespace quilbo {

namespace {

// Bytes one ReadPiece scan may consume before it looks at its result.
constexpr std::uint32_t kPieceBudget = 255;

// The checks every read operation makes before it reads.
bool MayRead(TextStream& stream) {
  if (IoStatus != 0) return false;
  if (stream.mode != StreamMode::kReading) {
    StoreIoFailure(kIoNotOpenForInput);
    return false;
  }
  return true;
}

// Makes sure a byte is buffered; false at the end of the data, which only
// a refill that brings nothing can tell.
bool Available(TextStream& stream) {
  if (stream.position < stream.end) return true;
  StoreStreamFailure(stream, stream.TransferHook(stream), "read");
  return stream.position < stream.end;
}

}  // namespace

bool AtEnd(TextStream& stream) {
  if (!MayRead(stream) || !Available(stream)) return true;
  return stream.buffer[stream.position] == kEndMarker;
}

bool AtLineEnd(TextStream& stream) {
  if (!MayRead(stream)) return true;
  while (Available(stream)) {
    const char c = stream.buffer[stream.position];
    if (c != kCR) return c == kLF || c == kEndMarker;
    ++stream.position;
  }
  return true;
}

void ReadPiece(TextStream& stream, std::string& piece) {
  piece.clear();
  if (!MayRead(stream)) return;
  // The piece is read in scans of 255 bytes, CRs counted, and ends with
  // the first scan that appends less than 255 bytes: at a line end, at the
  // end of the text, or with the scan in which the first CR falls. Up to
  // that CR every scan is full, so plain bytes are taken in whole runs;
  // only the scan holding the CR is counted out byte by byte.
  std::uint64_t taken = 0;
  for (;;) {
    if (!Available(stream)) return;
    const char* at = stream.buffer + stream.position;
    const std::uint32_t left = stream.end - stream.position;
    const std::uint32_t plain = FindLineByte(at, left);
    piece.append(at, plain);
    stream.position += plain;
    taken += plain;
    if (plain == left) continue;
    if (at[plain] != kCR) return;
    break;
  }
  // The rest of the scan the CR falls in: what its budget has left.
  std::uint32_t budget =
      kPieceBudget - static_cast<std::uint32_t>(taken % kPieceBudget);
  while (budget != 0 && Available(stream)) {
    const char* at = stream.buffer + stream.position;
    if (*at == kCR) {
      ++stream.position;
      --budget;
      continue;
    }
    if (*at == kLF || *at == kEndMarker) return;  // CR LF, the usual line end
    const std::uint32_t left = stream.end - stream.position;
    const std::uint32_t span = left < budget ? left : budget;
    const std::uint32_t plain = FindLineByte(at, span);
    piece.append(at, plain);
    stream.position += plain;
    budget -= plain;
    if (plain != span && at[plain] != kCR) return;  // LF or 0x1A
  }
}

void SkipLineEnd(TextStream& stream) {
  if (!MayRead(stream)) return;
  while (Available(stream)) {
    const char* at = stream.buffer + stream.position;
    if (*at == kLF) {  // where the copy loop calls it: at the line end
      ++stream.position;
      break;
    }
    const std::uint32_t left = stream.end - stream.position;
    const std::uint32_t plain = FindLineByte(at, left);
    stream.position += plain;
    if (plain == left) continue;
    const char c = at[plain];
    if (c == kEndMarker) break;
    ++stream.position;
    // A CR ends the line on its own; an LF right after it belongs to it.
    if (c == kCR && Available(stream) &&
        stream.buffer[stream.position] == kLF)
      ++stream.position;
    break;
  }
  if (stream.FlushHook != nullptr)
    StoreStreamFailure(stream, stream.FlushHook(stream), "write");
}

}  // namespace quilbo
