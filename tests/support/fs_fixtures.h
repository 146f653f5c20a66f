// Fixtures for the file tests: temporary folders, files with chosen
// attributes and times, and a directory search served from a list.
#ifndef QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_
#define QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quilbo::testing {

#ifdef _WIN32
inline constexpr char kSep = '\\';
#else
inline constexpr char kSep = '/';
#endif

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
bool SetReadOnly(const std::string& path);
// Sets the last-write time so that the local time is the one given.
void SetLocalWriteTime(const std::string& path, int year, int month, int day, int hour,
                       int minute, int second);

// Entries the real file system cannot make; installs the counting wrapper.
struct ScriptedSearch {
  explicit ScriptedSearch(std::vector<FindData> entries);
  ~ScriptedSearch();
  ScriptedSearch(const ScriptedSearch&) = delete;
  ScriptedSearch& operator=(const ScriptedSearch&) = delete;
};
FindData Entry(std::string_view name, std::uint32_t attributes, std::uint64_t size = 0,
               std::uint64_t lastWriteTime = 0);

}  // namespace quilbo::testing

#endif  // QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_
