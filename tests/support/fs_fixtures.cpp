// The only test code that calls the system directly, for what the platform
// layer has no service for.
#include "support/fs_fixtures.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "support/fault_platform.h"

namespace quilbo::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  std::error_code error;
  do {
    path = (fs::temp_directory_path() / ("quilbo-" + std::to_string(random() % 1000000000)))
               .string();
  } while (!fs::create_directory(path, error) && !error);
  EXPECT_FALSE(error) << path << ": " << error.message();
}

TempDir::~TempDir() {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
  fs::remove_all(path, error);
}

std::string DeepPath(const TempDir& dir, std::size_t length) {
  std::string path = dir.path;
  for (char letter = 'a';; ++letter) {
    const std::size_t rest = length - path.size() - 1;
    if (rest <= 200) return path + kSep + std::string(rest, 'f');
    path += kSep + std::string(rest - 200 < 2 ? 198 : 200, letter);
    fs::create_directory(path);
  }
}

void WriteFile(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool SetReadOnly(const std::string& path) {
  std::error_code error;
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove, error);
  return !error;
}

void SetLocalWriteTime(const std::string& path, int year, int month, int day, int hour,
                       int minute, int second) {
#ifdef _WIN32
  const SYSTEMTIME local{static_cast<WORD>(year), static_cast<WORD>(month), 0,
                         static_cast<WORD>(day), static_cast<WORD>(hour),
                         static_cast<WORD>(minute), static_cast<WORD>(second), 0};
  FILETIME localTime;
  FILETIME utc;
  ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime) &&
              LocalFileTimeToFileTime(&localTime, &utc));
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &utc));
  CloseHandle(file);
#else
  struct tm local = {second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
  const std::time_t utc = mktime(&local);
  const struct timespec times[2] = {{utc, 0}, {utc, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

namespace {

constexpr OsHandle kScripted = 4242;
std::vector<FindData> gScript;
std::size_t gNext = 0;

bool Serve(OsHandle handle, FindData* entry) {
  const bool ok = handle == kScripted && gNext < gScript.size();
  if (ok) *entry = gScript[gNext++];
  if (!ok) Os().setLastError(handle == kScripted ? kErrNoMoreFiles : kErrInvalidHandle);
  return ok;
}

}  // namespace

ScriptedSearch::ScriptedSearch(std::vector<FindData> entries) {
  gScript = std::move(entries);
  InstallFaults(FaultPlan{});
  FaultTable().findFirstFile = [](const char*, FindData* entry) {
    gNext = 0;
    return Serve(kScripted, entry) ? kScripted : kInvalidHandle;
  };
  FaultTable().findNextFile = Serve;
  FaultTable().findClose = [](OsHandle handle) { return handle == kScripted; };
}

ScriptedSearch::~ScriptedSearch() { RemoveFaults(); }

FindData Entry(std::string_view name, std::uint32_t attributes, std::uint64_t size,
               std::uint64_t lastWriteTime) {
  FindData entry{};
  entry.attributes = attributes;
  entry.size = size;
  entry.lastWriteTime = lastWriteTime;
  std::memcpy(entry.name, name.data(), std::min(name.size(), sizeof entry.name - 1));
  return entry;
}

}  // namespace quilbo::testing
