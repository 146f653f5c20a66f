#include "support/fs_fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace quilbo::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  std::error_code error;
  do {
    path = (fs::temp_directory_path() / ("quilbo-" + std::to_string(random() % 1000000000))).string();
  } while (!fs::create_directory(path, error) && !error);
  EXPECT_FALSE(error) << path << ": " << error.message();
}

TempDir::~TempDir() {
  std::error_code error;  // read-only entries would stop the removal on Windows
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
    path += kSep + std::string(rest - 200 < 2 ? 198 : 200, letter);  // two bytes at least for the last
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

std::string CopiedByTheLineRule(std::string_view source) {
  const std::string_view text = source.substr(0, source.find('\x1A'));
  std::string out;
  for (const char byte : text) out += byte == '\n' ? "\r\n" : byte == '\r' ? "" : std::string(1, byte);
  return out + (!text.empty() && text.back() != '\n' ? "\r\n" : "");
}

}  // namespace quilbo::testing
