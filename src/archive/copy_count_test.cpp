#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "archive/archive_log.h"
#include "fs/file_helpers.h"

namespace quilbo {
namespace {

// What one copy of text appends, by the line-by-line rule.
std::string Copied(const std::string& log) {
  const std::string text = log.substr(0, log.find('\x1a'));
  std::string out;
  std::string piece;
  for (const char byte : text) {
    if (byte == '\n') {
      out += piece + "\r\n";
      piece.clear();
    } else if (byte != '\r') {
      piece += byte;
    }
  }
  if (!text.empty() && text.back() != '\n') out += piece + "\r\n";
  return out;
}

CopyCount CountInBlocks(const std::string& log, std::size_t block, std::int64_t keep) {
  CopyCount count;
  StartCount(count);
  for (std::size_t at = 0; at < log.size(); at += block) {
    const std::string part = log.substr(at, block);
    if (!CountBlock(count, part.data(), static_cast<std::uint32_t>(part.size()), keep)) break;
  }
  FinishCount(count);
  return count;
}

TEST(CopyCount, CountsWhatTheCopyWrites) {
  const std::string logs[] = {"",       "a\r\nb\r\n", "a\nb\n", "a\r\nb",  "a\rb\r\n", "a\r",
                              "\r",     "\n",         "a\x1a" "b\r\n",   "\x1a" "a",
                              "a\n\r",  std::string(300, 'x') + "\r\n\n" + std::string(5, '\r')};
  for (const std::string& log : logs) {
    for (const std::size_t block : {1u, 3u, 4096u}) {
      SCOPED_TRACE(testing::Message() << log.size() << " bytes in blocks of " << block);
      const CopyCount count = CountInBlocks(log, block, 100);
      EXPECT_EQ(count.copy, static_cast<std::int64_t>(Copied(log).size()));
      EXPECT_EQ(count.textEnd, static_cast<std::int64_t>(log.find('\x1a') == std::string::npos
                                                             ? log.size() : log.find('\x1a')));
    }
  }
}

// However long the log, the marks stay few and one lies shortly before
// any point of the last keep bytes: the copy is taken up again there.
TEST(CopyCount, MarksStayCloseToTheKeptTail) {
  std::string log;
  for (int i = 0; i < 20000; ++i) log += "line " + std::to_string(i) + "\r\n";
  for (const std::int64_t keep : {std::int64_t{10}, std::int64_t{5000}, std::int64_t{150000}}) {
    SCOPED_TRACE(keep);
    const CopyCount count = CountInBlocks(log, 256, keep);
    EXPECT_LE(count.marks, kCopyMarks);
    for (const std::int64_t at : {count.copy - keep, count.copy - 1}) {
      const CopyMark mark = MarkBefore(count, at);
      EXPECT_LE(mark.copy, at);
      EXPECT_LE(at - mark.copy, 2 * 256 * count.spacing + 256);
      // The mark ties a log offset to the copy of the bytes before it (CR
      // nothing, LF two bytes).
      const std::string before = log.substr(0, static_cast<std::size_t>(mark.log));
      EXPECT_EQ(mark.copy, std::ssize(before) - std::count(before.begin(), before.end(), '\r') +
                               std::count(before.begin(), before.end(), '\n'));
    }
  }
}

TEST(CutFileName, TmpThenNumberedThenShorter) {
  const char sep = kPathSeparator;
  const std::string folder = std::string("Archive") + sep;
  EXPECT_EQ(CutFileName(folder + "a.log", 0), folder + "a.log.tmp");
  EXPECT_EQ(CutFileName(folder + "a.log", 3), folder + "a.log.3.tmp");
  // A name is at most 255 bytes, a path shorter than kMaxPath.
  const std::string longest(253, 'n');
  for (const std::string suffix : {".tmp", ".12.tmp"}) {
    const std::size_t room = std::min(255 - suffix.size(),
                                      kMaxPath - 1 - folder.size() - suffix.size());
    EXPECT_EQ(CutFileName(folder + longest, suffix == ".tmp" ? 0 : 12),
              folder + std::string(room, 'n') + suffix);
  }
  EXPECT_EQ(CutFileName(std::string(kMaxPath, 'f') + sep + "a.log", 0), "");
}

}  // namespace
}  // namespace quilbo
