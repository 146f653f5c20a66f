// Fixture helpers for the files-and-directories tests; the only test code that calls the OS directly.
#include "support/fs_fixtures.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>

#include "support/fault_platform.h"

namespace quilbo::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    const fs::path candidate =
        base / ("quilbo-fs-" + std::to_string(random() % 1000000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path = candidate.string();
      return;
    }
    if (error) ADD_FAILURE() << "cannot create " << candidate << ": " << error.message();
  }
}

TempDir::~TempDir() {
  std::error_code error;
  // Read-only entries would stop the removal on Windows.
  for (auto it = fs::recursive_directory_iterator(path, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
  fs::remove_all(path, error);
}

std::string TempDir::At(std::string_view name) const {
  return path + kSep + std::string(name);
}

std::string DeepPath(const TempDir& dir, std::size_t length) {
  constexpr std::size_t kComponent = 200;
  std::string path = dir.path;
  EXPECT_GT(length, path.size() + 1);
  char letter = 'a';
  for (;;) {
    const std::size_t rest = length - path.size() - 1;  // after a separator
    if (rest <= kComponent) return path + kSep + std::string(rest, 'f');
    // Leave at least two bytes for the last name.
    const std::size_t take = rest - kComponent < 2 ? kComponent - 2 : kComponent;
    path += kSep + std::string(take, letter++);
    std::error_code error;
    fs::create_directory(path, error);
    EXPECT_FALSE(error) << error.message();
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

#ifdef _WIN32
// The ANSI calls, so names with 8-bit bytes mean what the program means.
bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
#else
bool Exists(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}
#endif

#ifdef _WIN32

namespace {
bool AddAttribute(const std::string& path, DWORD bit) {
  const DWORD now = GetFileAttributesA(path.c_str());
  if (now == INVALID_FILE_ATTRIBUTES) return false;
  if (!SetFileAttributesA(path.c_str(), now | bit)) return false;
  return (GetFileAttributesA(path.c_str()) & bit) != 0;
}
}  // namespace

bool SetReadOnly(const std::string& path, bool on) {
  const DWORD now = GetFileAttributesA(path.c_str());
  const DWORD wanted = on ? (now | FILE_ATTRIBUTE_READONLY)
                          : (now & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  return now != INVALID_FILE_ATTRIBUTES && SetFileAttributesA(path.c_str(), wanted);
}

bool SetHidden(const std::string& path) {
  return AddAttribute(path, FILE_ATTRIBUTE_HIDDEN);
}

bool SetSystem(const std::string& path) {
  return AddAttribute(path, FILE_ATTRIBUTE_SYSTEM);
}

bool WriteOpenRefused(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;
  CloseHandle(file);
  return false;
}

bool EightBitNamesWork(const std::string& folder) {
  const std::string probe = folder + "\\probe\xFC";
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  DeleteFileA(probe.c_str());
  return true;
}

void SetLocalWriteTime(const std::string& path, int year, int month, int day,
                       int hour, int minute, int second) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = static_cast<WORD>(hour);
  local.wMinute = static_cast<WORD>(minute);
  local.wSecond = static_cast<WORD>(second);
  FILETIME localTime;
  FILETIME utc;
  // The inverse of the conversion the search makes, so the result holds
  // whatever time zone the prefix uses.
  ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
  ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  const BOOL ok = SetFileTime(file, nullptr, nullptr, &utc);
  CloseHandle(file);
  ASSERT_TRUE(ok);
}

#else

bool SetReadOnly(const std::string& path, bool on) {
  return chmod(path.c_str(), on ? 0444 : 0644) == 0;
}

// The platform layer itself must refuse, also to root.
bool WriteOpenRefused(const std::string&) { return true; }
bool EightBitNamesWork(const std::string&) { return true; }

bool SetHidden(const std::string&) { return false; }
bool SetSystem(const std::string&) { return false; }

void SetLocalWriteTime(const std::string& path, int year, int month, int day,
                       int hour, int minute, int second) {
  struct tm local {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::time_t utc = mktime(&local);
  ASSERT_NE(utc, static_cast<std::time_t>(-1));
  const struct timespec times[2] = {{utc, 0}, {utc, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

#endif

namespace {

constexpr OsHandle kScriptedHandle = 4242;
std::vector<FindData> gScript;
std::size_t gNext = 0;

bool Serve(FindData* entry) {
  if (gNext >= gScript.size()) {
    Os().setLastError(kErrNoMoreFiles);
    return false;
  }
  *entry = gScript[gNext++];
  return true;
}

OsHandle ScriptedFirst(const char*, FindData* entry) {
  gNext = 0;
  if (gScript.empty()) {
    Os().setLastError(kErrFileNotFound);
    return kInvalidHandle;
  }
  Serve(entry);
  return kScriptedHandle;
}

bool ScriptedNext(OsHandle handle, FindData* entry) {
  if (handle != kScriptedHandle) {
    Os().setLastError(kErrInvalidHandle);
    return false;
  }
  return Serve(entry);
}

bool ScriptedClose(OsHandle handle) {
  if (handle == kScriptedHandle) return true;
  Os().setLastError(kErrInvalidHandle);
  return false;
}

}  // namespace

ScriptedSearch::ScriptedSearch(std::vector<FindData> entries) {
  gScript = std::move(entries);
  gNext = 0;
  InstallFaults(FaultPlan{});
  FaultTable().findFirstFile = ScriptedFirst;
  FaultTable().findNextFile = ScriptedNext;
  FaultTable().findClose = ScriptedClose;
}

ScriptedSearch::~ScriptedSearch() { RemoveFaults(); }

FindData Entry(std::string_view name, std::uint32_t attributes,
               std::uint64_t size, std::uint64_t lastWriteTime) {
  FindData entry{};
  entry.attributes = attributes;
  entry.size = size;
  entry.lastWriteTime = lastWriteTime;
  const std::size_t n = name.size() < sizeof entry.name - 1 ? name.size()
                                                            : sizeof entry.name - 1;
  std::memcpy(entry.name, name.data(), n);
  return entry;
}

}  // namespace quilbo::testing
