// Helpers for the text stream tests: a temp folder per test, whole-file
// reads and writes, and the line-by-line copy as the archive engine runs it.
#ifndef QUILBO_TESTS_SUPPORT_TEXTIO_TEST_UTIL_H_
#define QUILBO_TESTS_SUPPORT_TEXTIO_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "errors/io_status.h"
#include "textio/text_stream.h"

namespace quilbo::testing {

// A character device every platform has: writes to it succeed and vanish.
#ifdef _WIN32
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

inline void WriteFileBytes(const std::filesystem::path& path,
                           std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The copy loop of the archive engine, statement by statement.
inline void CopyText(TextStream& source, TextStream& target) {
  std::string piece;
  while (!AtEnd(source)) {
    ReadPiece(source, piece);
    EndStatement(source);
    WriteText(target, piece, 0);
    EndStatement(target);
    if (AtLineEnd(source)) {
      SkipLineEnd(source);
      WriteLineEnd(target);
    }
  }
}

// Every test gets a fresh folder and starts and ends with no pending code.
class TextioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<unsigned> serial{0};
    const auto stamp =
        std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() /
           ("quilbo_textio_" + std::to_string(stamp) + "_" +
            std::to_string(serial++));
    std::filesystem::create_directories(dir_);
    TakeIoStatus();
  }
  void TearDown() override {
    EXPECT_EQ(TakeIoStatus(), 0) << "a failure was left pending";
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string PathOf(std::string_view name) const {
    return (dir_ / std::string(name)).string();
  }

  // What the copy loop appends to a new archive for these source bytes.
  std::string CopiedBytes(std::string_view sourceBytes) {
    const std::string from = PathOf("source.log");
    const std::string to = PathOf("archive.log");
    WriteFileBytes(from, sourceBytes);
    TextStream source{};
    TextStream archive{};
    AttachName(source, from);
    OpenRead(source);
    AttachName(archive, to);
    OpenNew(archive);
    CopyText(source, archive);
    CloseStream(source);
    CloseStream(archive);
    EXPECT_EQ(TakeIoStatus(), 0);
    return ReadFileBytes(to);
  }

  std::filesystem::path dir_;
};

}  // namespace quilbo::testing

#endif  // QUILBO_TESTS_SUPPORT_TEXTIO_TEST_UTIL_H_
