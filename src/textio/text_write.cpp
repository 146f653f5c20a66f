// The writing side of text streams: bytes go into the 128-byte buffer,
// which is written out each time it fills.
#include <cstring>

#include "errors/io_status.h"
#include "textio/text_internal.h"
#include "textio/text_rule.h"
#include "textio/text_stream.h"

namespace quilbo {

namespace {

constexpr char kSpaces[kTextBufferSize + 1] =
    "                                                                "
    "                                                                ";

// A full buffer goes out up to its last LF; the bytes after it move to the
// front and wait for the next transfer.
void TransferLines(TextStream& stream) {
  const std::uint32_t full = stream.position;
  std::uint32_t keep = 0;
  while (keep < full && stream.buffer[full - 1 - keep] != kLF) ++keep;
  if (keep == full) keep = 0;  // no line end: a line longer than the buffer
  stream.position = full - keep;
  StoreStreamFailure(stream, stream.TransferHook(stream), "write");
  std::memmove(stream.buffer, stream.buffer + (full - keep), keep);
  stream.position = keep;
}

}  // namespace

bool MayWrite(TextStream& stream) {
  if (IoStatus != 0) return false;
  if (stream.mode != StreamMode::kWriting) {
    StoreIoFailure(kIoNotOpenForOutput);
    return false;
  }
  return true;
}

void PutBytes(TextStream& stream, const char* bytes, std::size_t count) {
  // A failed transfer keeps its error, and the rest still goes through
  // the buffer: each later transfer is attempted as well.
  while (count != 0) {
    const std::uint32_t room = stream.bufferSize - stream.position;
    const std::uint32_t take =
        count < room ? static_cast<std::uint32_t>(count) : room;
    std::memcpy(stream.buffer + stream.position, bytes, take);
    stream.position += take;
    bytes += take;
    count -= take;
    if (stream.position < stream.bufferSize) continue;
    if (stream.lineTransfers) {
      TransferLines(stream);
    } else {
      StoreStreamFailure(stream, stream.TransferHook(stream), "write");
    }
  }
}

void PutItem(TextStream& stream, std::string_view text, std::int32_t width) {
  if (width > 0 && static_cast<std::uint64_t>(width) > text.size()) {
    std::size_t pad = static_cast<std::size_t>(width) - text.size();
    while (pad != 0) {
      const std::size_t take = pad < kTextBufferSize ? pad : kTextBufferSize;
      PutBytes(stream, kSpaces, take);
      pad -= take;
    }
  }
  PutBytes(stream, text.data(), text.size());
}

void WriteText(TextStream& stream, std::string_view text, std::int32_t width) {
  if (MayWrite(stream)) PutItem(stream, text, width);
}

void WriteText(TextStream& stream, const CountedString& text,
               std::int32_t width) {
  WriteText(stream, View(text), width);
}

void WriteLineEnd(TextStream& stream) {
  if (!MayWrite(stream)) return;
  PutBytes(stream, kLineEnd, kLineEndSize);
  if (stream.FlushHook != nullptr)
    StoreStreamFailure(stream, stream.FlushHook(stream), "write");
}

}  // namespace quilbo
