// Fixtures for the file tests: temporary folders and files, and what a copy
// of a log appends.
#ifndef QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_
#define QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_

#include <string>
#include <string_view>

#include "fs/file_helpers.h"

namespace quilbo::testing {

inline constexpr char kSep = kPathSeparator;

// A fresh folder, removed with everything in it at the end of the test.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string At(std::string_view name) const { return path + kSep + std::string(name); }
  std::string path;
};

// A path of exactly length bytes inside dir whose folders exist; its last
// component is left to the caller.
std::string DeepPath(const TempDir& dir, std::size_t length);
void WriteFile(const std::string& path, std::string_view content);
std::string ReadWholeFile(const std::string& path);
// The line rule written out plainly: the text before the first 0x1A, every LF
// as CR LF, CRs dropped, a last line without its LF ended all the same.
std::string CopiedByTheLineRule(std::string_view source);

}  // namespace quilbo::testing

#endif  // QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_
