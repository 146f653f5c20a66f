#include "textio/text_rule.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quilbo {

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// High bit set in each byte of word that is 0. Bits above the lowest one
// may be false hits; the lowest one is always right.
constexpr std::uint64_t ZeroBytes(std::uint64_t word) { return (word - kOnes) & ~word & kHighs; }

bool IsLineByte(char c) { return c == kCR || c == kLF || c == kEndMarker; }

constexpr std::uint64_t LineByteHits(std::uint64_t word) {
  return ZeroBytes(word ^ (kOnes * kCR)) | ZeroBytes(word ^ (kOnes * kLF)) |
         ZeroBytes(word ^ (kOnes * kEndMarker));
}

// Whether word holds a byte below 0x20. CR, LF and 0x1A all are, and text
// seldom holds others, so most words are passed by this one test.
constexpr bool HasControlByte(std::uint64_t word) {
  return ((word - kOnes * 0x20) & ~word & kHighs) != 0;
}

}  // namespace

// Eight bytes are tested at a time; the last word overlaps the one before
// it, so no byte is tested alone unless count is below 8.
std::uint32_t FindLineByte(const char* text, std::uint32_t count) {
  std::uint32_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    if (count >= 8) {
      std::uint64_t word;
      for (;; i += 8) {
        if (i + 8 > count) i = count - 8;  // bytes before i are known plain
        std::memcpy(&word, text + i, sizeof word);
        if (HasControlByte(word)) {
          const std::uint64_t hits = LineByteHits(word);
          if (hits != 0) return i + static_cast<std::uint32_t>(std::countr_zero(hits) >> 3);
        }
        if (i + 8 == count) return count;
      }
    }
  }
  for (; i < count && !IsLineByte(text[i]); ++i) {
  }
  return i;
}

std::uint32_t ConvertText(TextState& state, const char* in, std::uint32_t count, char* out,
                          std::uint32_t* used) {
  std::uint32_t i = 0;
  std::uint32_t o = 0;
  while (!state.ended && i < count) {
    const std::uint32_t plain = FindLineByte(in + i, count - i);
    std::memcpy(out + o, in + i, plain);
    o += plain;
    i += plain;
    if (plain != 0) state.lineOpen = true;
    if (i == count) break;
    const char c = in[i];
    if (c == kEndMarker) {
      state.ended = true;
      break;
    }
    ++i;
    state.lineOpen = c == kCR;  // a CR alone still makes a line
    if (c == kLF) {
      std::memcpy(out + o, kLineEnd, kLineEndSize);
      o += kLineEndSize;
    }
  }
  *used = i;
  return o;
}

// The rule again, as arithmetic: a plain byte is itself, CR nothing, LF two
// bytes. Counted with the library's scans, which outrun a copy.
TextCount CountText(TextState& state, const char* in, std::uint32_t count) {
  if (state.ended || count == 0) return {0, 0};
  const void* marker = std::memchr(in, kEndMarker, count);
  const auto text = marker != nullptr ? static_cast<std::uint32_t>(static_cast<const char*>(marker) - in)
                                      : count;
  const auto crs = std::count(in, in + text, kCR);
  const auto lfs = std::count(in, in + text, kLF);
  if (text != 0) state.lineOpen = in[text - 1] != kLF;
  state.ended = marker != nullptr;
  return {text, static_cast<std::int64_t>(text) - crs + lfs};
}

bool FindTextEnd(OsHandle file, char* window, TextEnd* end) {
  const PlatformApi& os = Os();
  // One call places an archive longer than the window at its last bytes;
  // a shorter one fails that seek and is read whole from its start.
  std::int64_t start = 0;
  const bool full = os.setFilePointer(file, -static_cast<std::int64_t>(kMarkerWindow), SeekFrom::kEnd, &start);
  if (!full && !os.setFilePointer(file, 0, SeekFrom::kBegin, nullptr)) return false;
  std::uint32_t got = 0;
  if (!os.readFile(file, window, kMarkerWindow, &got)) return false;
  // The bytes read are the file's last when they fill the window placed
  // from the end, or fall short of it from the start (a disk file reads
  // short only at its end). Else the file changed under the reads: its
  // end, wherever it is now, is where its text ends.
  if (full ? got != kMarkerWindow : got >= kMarkerWindow) {
    end->marker = false;
    return os.setFilePointer(file, 0, SeekFrom::kEnd, &end->offset);
  }
  const void* marker = got != 0 ? std::memchr(window, kEndMarker, got) : nullptr;
  end->marker = marker != nullptr;
  end->offset = start + (end->marker ? static_cast<std::int64_t>(static_cast<const char*>(marker) - window)
                                      : static_cast<std::int64_t>(got));
  return true;
}

}  // namespace quilbo
