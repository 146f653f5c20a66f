#include <algorithm>
#include <cstring>

#include "archive/archive_log.h"

namespace quilbo {

void StartCount(CopyCount& count) {
  count = CopyCount{};
  count.spacing = 1;
}

namespace {

void AddMark(CopyCount& count, CopyMark mark, std::int64_t keep) {
  if (count.marks == kCopyMarks) {
    if (count.mark[1].copy <= mark.copy - keep) {
      // The first mark is no longer needed: the second lies before any
      // byte that can be kept.
      std::memmove(count.mark, count.mark + 1, sizeof(CopyMark) * (kCopyMarks - 1));
      --count.marks;
    } else {
      // The kept tail spans every mark: keep every other, twice as far apart.
      for (int i = 0; i < kCopyMarks / 2; ++i) count.mark[i] = count.mark[2 * i];
      count.marks = kCopyMarks / 2;
      count.spacing *= 2;
    }
  }
  count.mark[count.marks++] = mark;
}

}  // namespace

bool CountBlock(CopyCount& count, const char* block, std::uint32_t size, std::int64_t keep) {
  if (count.markerFound || size == 0) return false;
  if (count.blocks % count.spacing == 0) AddMark(count, {count.textEnd, count.copy}, keep);
  ++count.blocks;
  const void* marker = std::memchr(block, 0x1A, size);
  const std::uint32_t text =
      marker != nullptr ? static_cast<std::uint32_t>(static_cast<const char*>(marker) - block)
                        : size;
  const auto crs = std::count(block, block + text, '\r');
  const auto lfs = std::count(block, block + text, '\n');
  count.copy += static_cast<std::int64_t>(text) - crs + lfs;
  count.textEnd += text;
  if (text != 0) count.endsOpen = block[text - 1] != '\n';
  count.markerFound = marker != nullptr;
  return !count.markerFound;
}

void FinishCount(CopyCount& count) {
  if (count.endsOpen) count.copy += 2;
}

CopyMark MarkBefore(const CopyCount& count, std::int64_t at) {
  CopyMark found{0, 0};
  for (int i = 0; i < count.marks && count.mark[i].copy <= at; ++i) found = count.mark[i];
  return found;
}

}  // namespace quilbo
