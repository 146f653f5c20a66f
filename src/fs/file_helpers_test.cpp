#include "fs/file_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "errors/io_status.h"
#include "support/fs_fixtures.h"
#include "fs/search.h"

namespace quilbo {
namespace {

using testing::Exists;
using testing::kSep;
using testing::TempDir;

TEST(FileHelpers, IsPlainFile) {
  TempDir dir;
  testing::WriteFile(dir.At("plain.log"), "x");
  testing::WriteFile(dir.At("ro.log"), "x");
  ASSERT_TRUE(testing::SetReadOnly(dir.At("ro.log"), true));
  testing::WriteFile(dir.At("hidden.log"), "x");
  testing::SetHidden(dir.At("hidden.log"));
  std::filesystem::create_directory(dir.At("folder"));
  struct Case {
    std::string name;
    bool plain;
  };
  const Case cases[] = {
      {dir.At("plain.log"), true},
      {dir.At("ro.log"), true},
      {dir.At("hidden.log"), true},
      {dir.At("folder"), false},
      {dir.At("absent.log"), false},
      {dir.At("absent") + kSep + "plain.log", false},
      {"", false},
      // A name is never a pattern.
      {dir.At("pl*.log"), false},
      {dir.At("plain.lo?"), false},
      {dir.At("fold*"), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPlainFile(c.name), c.plain) << c.name;
}

TEST(FileHelpers, FileTimeOfIsTheSearchsPackedTime) {
  TempDir dir;
  const std::string file = dir.At("t.log");
  testing::WriteFile(file, "");
  testing::SetLocalWriteTime(file, 2024, 3, 5, 14, 30, 17);
  SearchEntry entry{};
  ASSERT_EQ(StartSearch(file.c_str(), 0x27, entry), 0);
  StopSearch(entry);
  EXPECT_EQ(FileTimeOf(file), static_cast<std::int32_t>(entry.PackedTime));
  EXPECT_EQ(FileTimeOf(dir.path), -1);
}

// The helpers report through their results only, and may run while a
// walk is open.
TEST(FileHelpers, LeaveIoStatusSearchErrorAndAnOpenWalkAlone) {
  TempDir dir;
  testing::WriteFile(dir.At("a.log"), "");
  testing::WriteFile(dir.At("b.log"), "");
  SearchEntry walk{};
  SearchFirst(ToCounted(dir.At("*.log")), 0x27, walk);
  ASSERT_EQ(SearchError, 0);
  const std::string first(View(walk.Name));
  IoStatus = 42;
  EXPECT_FALSE(IsPlainFile(dir.At("absent")));
  EXPECT_TRUE(IsPlainFile(dir.At("a.log")));
  EXPECT_FALSE(RemoveFile(dir.At("absent")));
  EXPECT_FALSE(MakeDirectory(dir.path));
  EXPECT_EQ(SearchError, 0);
  EXPECT_EQ(TakeIoStatus(), 42);
  SearchNext(walk);
  EXPECT_EQ(SearchError, 0);
  EXPECT_NE(View(walk.Name), first);
  SearchClose(walk);
}

TEST(FileHelpers, RemoveFile) {
  TempDir dir;
  testing::WriteFile(dir.At("ro.log"), "keep");
  ASSERT_TRUE(testing::SetReadOnly(dir.At("ro.log"), true));
  std::filesystem::create_directory(dir.At("folder"));
  testing::WriteFile(dir.At("gone.log"), "");
  // Also as root: a read-only file stays.
  EXPECT_FALSE(RemoveFile(dir.At("ro.log")));
  EXPECT_EQ(testing::ReadWholeFile(dir.At("ro.log")), "keep");
  EXPECT_FALSE(RemoveFile(dir.At("absent.log")));
  EXPECT_FALSE(Exists(dir.At("absent.log")));
  EXPECT_FALSE(RemoveFile(dir.At("folder")));
  EXPECT_TRUE(testing::IsFolder(dir.At("folder")));
  EXPECT_TRUE(RemoveFile(dir.At("gone.log")));
  EXPECT_FALSE(Exists(dir.At("gone.log")));
}

TEST(FileHelpers, MakeDirectoryCreatesOneLevelOnly) {
  TempDir dir;
  EXPECT_FALSE(MakeDirectory(dir.path));
  const std::string parent = dir.At("logs");
  EXPECT_FALSE(MakeDirectory(parent + kSep + "backup"));
  EXPECT_FALSE(Exists(parent));
  EXPECT_TRUE(MakeDirectory(parent));
  EXPECT_TRUE(MakeDirectory(parent + kSep + "backup"));
  EXPECT_TRUE(testing::IsFolder(parent + kSep + "backup"));
}

// A name that does not fit the platform's longest path fails; its cut
// form, which names another file, is never used. Below that, any length
// works (Linux: far beyond 259 bytes).
TEST(FileHelpers, LongNamesFailRatherThanReachTheirCutForm) {
  TempDir dir;
  const std::string cut = testing::DeepPath(dir, static_cast<std::size_t>(kMaxPath - 1));
  testing::WriteFile(cut, "keep");
  ASSERT_TRUE(IsPlainFile(cut));
  EXPECT_TRUE(PathFits(cut));
  const std::string longer = cut + "x";
  EXPECT_FALSE(PathFits(longer));
  EXPECT_EQ(ScratchName(longer), nullptr);
  EXPECT_FALSE(IsPlainFile(longer));
  EXPECT_FALSE(RemoveFile(longer));
  EXPECT_FALSE(MakeDirectory(longer));
  EXPECT_FALSE(RemoveFile(cut + std::string(1, '\0') + "x"));
  EXPECT_EQ(testing::ReadWholeFile(cut), "keep");
  EXPECT_TRUE(RemoveFile(cut));
  EXPECT_TRUE(MakeDirectory(cut));
  EXPECT_TRUE(testing::IsFolder(cut));
}

// Lookups take the one entry of that name: wildcard bytes are bytes.
TEST(FileHelpers, LookupsNeverReadAPattern) {
  TempDir dir;
  testing::WriteFile(dir.At("a1.log"), "one");
  testing::SetLocalWriteTime(dir.At("a1.log"), 2024, 3, 5, 14, 30, 17);
  FindData found{};
  for (const char* name : {"a?.log", "a*.log", "*", "a1.*"}) {
    EXPECT_FALSE(LookUpFile(dir.At(name), &found)) << name;
    EXPECT_EQ(FileTimeOf(dir.At(name)), -1) << name;
    EXPECT_FALSE(RemoveFile(dir.At(name))) << name;
  }
  ASSERT_TRUE(LookUpFile(dir.At("a1.log"), &found));
  EXPECT_EQ(found.size, 3u);
  EXPECT_EQ(FileTimeOf(dir.At("a1.log")), 0x586573C8);
  EXPECT_TRUE(testing::Exists(dir.At("a1.log")));
#ifndef _WIN32
  // Names holding the wildcard bytes are plain names here.
  testing::WriteFile(dir.At("a*.log"), "star");
  testing::SetLocalWriteTime(dir.At("a*.log"), 2001, 1, 1, 0, 0, 0);
  ASSERT_TRUE(LookUpFile(dir.At("a*.log"), &found));
  EXPECT_EQ(found.size, 4u);
  EXPECT_EQ(FileTimeOf(dir.At("a*.log")), 0x2A210000);
  EXPECT_TRUE(RemoveFile(dir.At("a*.log")));
  EXPECT_TRUE(testing::Exists(dir.At("a1.log")));
#endif
}

TEST(FileHelpers, DirectoryPart) {
  struct Case {
    const char* path;
    const char* part;
  };
#ifdef _WIN32
  // '/' separates as the system takes it.
  const Case cases[] = {
      {"C:\\logs\\*.log", "C:\\logs\\"}, {"C:*.log", "C:"},
      {"*.log", ""},                     {"logs/app.log", "logs/"},
      {"C:/logs/*.log", "C:/logs/"},     {"a\\b/c", "a\\b/"},
      {"a/b\\c", "a/b\\"},               {"/x.log", "/"},
      {"C:\\", "C:\\"},                  {"logs\\", "logs\\"},
      {"\\x.log", "\\"},                 {"", ""},
  };
#else
  // No drive letters; both slashes separate.
  const Case cases[] = {
      {"/var/log/*.log", "/var/log/"}, {"logs\\*.log", "logs\\"},
      {"logs/app.log", "logs/"},       {"a\\b/c", "a\\b/"},
      {"*.log", ""},                   {"C:*.log", ""},
      {"logs/", "logs/"},              {"/x.log", "/"},
      {"", ""},
  };
#endif
  for (const Case& c : cases) EXPECT_EQ(DirectoryPart(c.path), c.part) << c.path;
}

TEST(FileHelpers, TypedPathsTakeThePlatformsSeparator) {
  struct Case {
    const char* typed;
    const char* windows;
    const char* posix;
  };
  const Case cases[] = {
      {"logs\\*.log", "logs\\*.log", "logs/*.log"},
      {"logs/*.log", "logs/*.log", "logs/*.log"},
      {"a\\b/c\\", "a\\b/c\\", "a/b/c/"},
      {"\\", "\\", "/"},
      {"C:x", "C:x", "C:x"},
      {"", "", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TypedPath(c.typed), testing::kWindows ? c.windows : c.posix) << c.typed;
}

#ifdef _WIN32
// Names reach the system as their UTF-16 text, from the core's UTF-8:
// whatever their characters, each reaches its file, and no other form of it
// (the ANSI bytes, the OEM form the console shows) reaches anything.
TEST(FileHelpers, NamesReachTheirFilesWhateverTheirCharacters) {
  TempDir dir;
  const auto onDisk = [&](const char* name) {
    return std::filesystem::exists(std::filesystem::path(dir.path) /
                                   std::filesystem::path(reinterpret_cast<const char8_t*>(name)));
  };
  // müller, Cyrillic zhe, Japanese ro, and a character beyond U+FFFF.
  for (const char* name : {"m\xC3\xBCller.log", "\xD0\xB6.log", "\xE3\x83\xAD.log",
                           "\xF0\x9F\x98\x80.log"}) {
    SCOPED_TRACE(name);
    const OsHandle file = Os().createFile(dir.At(name).c_str(), FileAccess::kReadWrite,
                                          FileCreation::kCreateNew);
    ASSERT_NE(file, kInvalidHandle);
    Os().closeHandle(file);
    EXPECT_TRUE(onDisk(name));
    EXPECT_TRUE(IsPlainFile(dir.At(name)));
    EXPECT_TRUE(MakeDirectory(dir.At(std::string(name) + ".d")));
    EXPECT_TRUE(onDisk((std::string(name) + ".d").c_str()));
    EXPECT_TRUE(RemoveFile(dir.At(name)));
    EXPECT_FALSE(onDisk(name));
  }
  testing::WriteFile(dir.At("m\xFCller.log"), "x");  // made by its ANSI name
  EXPECT_TRUE(IsPlainFile(dir.At("m\xC3\xBCller.log")));
  EXPECT_FALSE(IsPlainFile(dir.At("m\xFCller.log")));
  EXPECT_FALSE(RemoveFile(dir.At("m\x81ller.log")));
}
#endif

}  // namespace
}  // namespace quilbo
