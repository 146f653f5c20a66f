#include "driver/shell_habits.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace quilbo {
namespace {

struct ShortcutCase {
  std::int32_t argCount;
  const char* first;
  Shortcut expected;
};

TEST(ShortcutOf, OnlyTheExactSoleArgumentAnswers) {
  const ShortcutCase cases[] = {
      {1, "--help", Shortcut::kHelp},     {1, "-h", Shortcut::kHelp},
      {1, "--version", Shortcut::kVersion},
      // Next to other arguments they are patterns, as any first argument.
      {2, "--help", Shortcut::kNone},     {3, "-h", Shortcut::kNone},
      {2, "--version", Shortcut::kNone},
      // Byte-exact: no case folding, no abbreviation, no trimming.
      {1, "--HELP", Shortcut::kNone},     {1, "-H", Shortcut::kNone},
      {1, "-help", Shortcut::kNone},      {1, "--he", Shortcut::kNone},
      {1, "--help ", Shortcut::kNone},    {1, "--version=1", Shortcut::kNone},
      {1, "-v", Shortcut::kNone},         {1, "*.log", Shortcut::kNone},
      {0, "", Shortcut::kNone},           {-1, "", Shortcut::kNone},
  };
  for (const ShortcutCase& c : cases)
    EXPECT_EQ(ShortcutOf(c.argCount, c.first), c.expected)
        << c.argCount << " '" << c.first << "'";
}

// The files of a made-up folder, and every name looked up in it.
std::set<std::string> g_files;
std::vector<std::string> g_lookedUp;

bool FakeIsFile(std::string_view name) {
  g_lookedUp.emplace_back(name);
  return g_files.count(std::string(name)) != 0;
}

struct ExpandCase {
  const char* what;
  std::set<std::string> files;
  const char* pattern;
  std::vector<std::string> folders;
  std::vector<std::string> expected;
};

TEST(ExpandedNames, TellsAnExpandedPatternFromAFolderArgument) {
  const ExpandCase cases[] = {
      {"three logs, a folder", {"a.log", "b.log", "c.log"}, "a.log",
       {"b.log", "c.log", "backup"}, {"a.log", "b.log", "c.log"}},
      {"two logs, no folder", {"a.log", "b.log"}, "a.log", {"b.log"},
       {"a.log", "b.log"}},
      {"with a folder part", {"logs/a.log", "logs/b.log"}, "logs/a.log",
       {"logs/b.log", "backup"}, {"logs/a.log", "logs/b.log"}},
      {"quoted pattern, a file among two folder arguments", {"x.txt"}, "*.log",
       {"x.txt", "backup"}, {"x.txt"}},
      {"one log and a folder: legitimate", {"a.log"}, "a.log", {"backup"}, {}},
      {"one log, an existing folder", {"a.log"}, "a.log", {"Archive"}, {}},
      {"two folder arguments, no file among them", {"a.log"}, "a.log",
       {"old", "new"}, {}},
      {"quoted pattern, the folder argument a file", {"b.log"}, "*.log",
       {"b.log"}, {}},
      {"missing log, the folder argument a file", {"b.log"}, "gone.log",
       {"b.log"}, {}},
      {"names with wildcards are never looked up", {"a.log", "b*", "c?"},
       "a.log", {"b*", "c?"}, {}},
      {"no folder arguments", {"a.log"}, "a.log", {}, {}},
  };
  for (const ExpandCase& c : cases) {
    g_files = c.files;
    g_lookedUp.clear();
    EXPECT_EQ(ExpandedNames(c.pattern, c.folders, FakeIsFile), c.expected)
        << c.what;
    for (const std::string& name : g_lookedUp)
      EXPECT_EQ(name.find_first_of("*?"), std::string::npos)
          << c.what << ": looked up " << name;
  }
}

TEST(ExpandedPatternMessage, NamesTheFilesAndFitsTheReport) {
  const std::string shortOne = ExpandedPatternMessage({"a.log", "b.log"});
  EXPECT_NE(shortOne.find("(a.log b.log)"), std::string::npos) << shortOne;
  EXPECT_NE(shortOne.find("quote the pattern"), std::string::npos) << shortOne;

  const std::vector<std::vector<std::string>> longLists = {
      std::vector<std::string>(200, "service-2026-12-07.log"),
      {std::string(250, 'x'), "b.log"},
      {"a.log", std::string(250, 'y')},
  };
  for (const auto& names : longLists) {
    const std::string message = ExpandedPatternMessage(names);
    EXPECT_LE(message.size(), 255u);
    EXPECT_NE(message.find("...)"), std::string::npos) << message;
    EXPECT_NE(message.find("quilbo '*.log' backup"), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace quilbo
