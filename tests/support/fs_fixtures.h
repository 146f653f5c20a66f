// Test fixtures for the files-and-directories tests: temporary folders,
// files with chosen attributes and times, and a scripted directory search.
#ifndef QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_
#define QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quilbo::testing {

#ifdef _WIN32
inline constexpr char kSep = '\\';
inline constexpr bool kWindows = true;
#else
inline constexpr char kSep = '/';
inline constexpr bool kWindows = false;
#endif

// A fresh folder, removed with everything in it at the end of the test.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The path of name inside the folder, as the program would build it.
  std::string At(std::string_view name) const;
  std::string path;
};

// A path of exactly length bytes inside dir whose folders exist (names of
// at most 200 bytes each); its last component is left to the caller.
std::string DeepPath(const TempDir& dir, std::size_t length);

void WriteFile(const std::string& path, std::string_view content);
std::string ReadWholeFile(const std::string& path);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);

// Attribute fixtures; false where the platform cannot give the attribute.
bool SetReadOnly(const std::string& path, bool on);
bool SetHidden(const std::string& path);
bool SetSystem(const std::string& path);

// Whether the platform refuses to open this read-only file for writing
// (wine running as root does not).
bool WriteOpenRefused(const std::string& path);
// Whether names with bytes above 0x7F can be created in folder (wine in a
// Unix locale without UTF-8 cannot map them).
bool EightBitNamesWork(const std::string& folder);

// Sets the last-write time so that the local time is the one given.
void SetLocalWriteTime(const std::string& path, int year, int month, int day,
                       int hour, int minute, int second);

// A directory search served from a list instead of the file system, for
// entries the real one cannot make. Installs the counting wrapper.
struct ScriptedSearch {
  explicit ScriptedSearch(std::vector<FindData> entries);
  ~ScriptedSearch();
  ScriptedSearch(const ScriptedSearch&) = delete;
  ScriptedSearch& operator=(const ScriptedSearch&) = delete;
};

FindData Entry(std::string_view name, std::uint32_t attributes,
               std::uint64_t size = 0, std::uint64_t lastWriteTime = 0);

}  // namespace quilbo::testing

#endif  // QUILBO_TESTS_SUPPORT_FS_FIXTURES_H_
