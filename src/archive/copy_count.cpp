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
  if (count.text.ended || size == 0) return false;
  if (count.blocks % count.spacing == 0) AddMark(count, {count.textEnd, count.copy}, keep);
  ++count.blocks;
  const TextCount counted = CountText(count.text, block, size);
  count.copy += counted.copy;
  count.textEnd += counted.text;
  return !count.text.ended;
}

void FinishCount(CopyCount& count) { count.copy += ClosingBytes(count.text); }

CopyMark MarkBefore(const CopyCount& count, std::int64_t at) {
  CopyMark found{0, 0};
  for (int i = 0; i < count.marks && count.mark[i].copy <= at; ++i) found = count.mark[i];
  return found;
}

}  // namespace quilbo
