// The text and number conversions, the options after the pattern, and the
// Unix shell habits the driver answers.
#include "driver/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "driver/shell_habits.h"
#include "driver/text_ops.h"

namespace quilbo {
namespace {

TEST(TextOps, ParseIntegerValuesAndErrorPositions) {
  struct Row {
    std::string text;
    std::int32_t value, errorPosition;
  };
  const Row rows[] = {
      {"1000", 1000, 0}, {"1000kb", 0, 5}, {"", 0, 1}, {"k", 0, 1}, {"-5", -5, 0},
      {"+7", 7, 0}, {" 12", 12, 0}, {"12 ", 0, 3}, {"\t12", 0, 1}, {"   ", 0, 4},
      {"-", 0, 2}, {"$", 0, 2}, {"  -", 0, 4}, {" -$", 0, 4}, {"--5", 0, 2}, {"$-5", 0, 2},
      {"1$", 0, 2}, {"12 34", 0, 3}, {"1e3", 0, 2}, {"0x10", 0, 2}, {"9:", 0, 2}, {"/1", 0, 1},
      {"1\xB9", 0, 2}, {std::string("12\0" "3", 4), 0, 3}, {"00000000000000000012", 12, 0},
      {"$10", 16, 0}, {"$aBcDeF", 0xABCDEF, 0}, {"$89ABCDEF", static_cast<std::int32_t>(0x89ABCDEFu), 0},
      {"$g", 0, 2}, {"$FFG", 0, 4}, {"-$10", -16, 0}, {"$FFFFFFFF", -1, 0},
      {"-$80000001", INT32_MAX, 0}, {"$80000000", INT32_MIN, 0}, {"$123456789", 0, 10},
      {"$000000000000FFFFFFFF", -1, 0}, {"$F00000000", 0, 10}, {"2147483647", INT32_MAX, 0},
      {"2147483648", 0, 10}, {"-2147483647", -INT32_MAX, 0}, {"-2147483648", 0, 11},
      {"10000000000", 0, 11}, {"0002147483648", 0, 13}, {"99999999999999999999", 0, 10},
      {"2147483648kb", 0, 10}, {std::string(1000, ' ') + "42", 42, 0},
      {std::string(1000, ' ') + "42!", 0, 1003},
  };
  for (const Row& row : rows) {
    const ParsedInteger parsed = ParseInteger(row.text);
    EXPECT_EQ(parsed.value, row.value) << "'" << row.text << "'";
    EXPECT_EQ(parsed.errorPosition, row.errorPosition) << "'" << row.text << "'";
  }
}

TEST(TextOps, SubFindUpperEqualsJoin) {
  struct Sub {
    const char* text;
    std::int32_t index, count;
    const char* expected;
  };
  const Sub subs[] = {
      {"abcdef", 0, 3, "abc"}, {"abcdef", 5, 10, "ef"}, {"abcdef", 7, 1, ""},
      {"abcdef", 2, -1, ""}, {"/T1000", 3, 250, "1000"}, {"abcdef", INT32_MIN, 2, "ab"},
      {"abcdef", 6, INT32_MAX, "f"}, {"abcdef", INT32_MAX, INT32_MAX, ""},
      {"abcdef", 3, 2, "cd"}, {"", -1, 5, ""}, {"\x80\xFF" "a", 2, 1, "\xFF"},
  };
  for (const Sub& c : subs) {
    EXPECT_EQ(SubText(std::string_view(c.text), c.index, c.count), c.expected) << c.text << c.index;
    EXPECT_EQ(View(SubText(ToCounted(c.text), c.index, c.count)), c.expected) << c.text << c.index;
  }
  EXPECT_EQ(View(SubText(ToCounted(std::string(255, 'q')), 255, 5)), "q");
  EXPECT_EQ(SubText(std::string(1000, 'a') + "xyz", 1001, 3), "xyz");

  const std::vector<std::pair<std::pair<const char*, std::string>, std::int32_t>> finds = {
      {{"/T", "/T1000"}, 1}, {{"/T", "X/T"}, 2}, {{"/T", "/t1000"}, 0}, {{"/T", "/"}, 0},
      {{"", "/T"}, 0}, {{"aab", "aaab"}, 2}, {{"\xE9", "caf\xE9"}, 4}, {{"c", "abc"}, 3},
      {{"/T", std::string(5000, '-') + "/T"}, 5001}};
  for (const auto& [args, at] : finds) EXPECT_EQ(FindText(args.first, args.second), at) << args.first;

  std::string all;  // ASCII letters only are folded
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string upper = UpperText(all);
  ASSERT_EQ(upper.size(), 256u);
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(static_cast<unsigned char>(upper[static_cast<std::size_t>(b)]),
              b >= 'a' && b <= 'z' ? b - 32 : b);

  const std::vector<std::pair<std::string, std::string>> differ = {
      {"/D", "/d"}, {"/D", "/D "}, {" /D", "/D"}, {"\xE9", "\xC9"}, {"abc", "abd"},
      {"", "a"}, {std::string("a\0", 2), "a"}};
  for (const auto& [a, b] : differ) {
    EXPECT_FALSE(TextEquals(a, b)) << a;
    EXPECT_FALSE(TextEquals(ToCounted(b), ToCounted(a))) << a;
    EXPECT_TRUE(TextEquals(ToCounted(a), ToCounted(a))) << a;
  }
  CountedString a = ToCounted("ab"), b = ToCounted("ab");
  a.chars[2] = 'x';  // bytes beyond the length do not count
  EXPECT_TRUE(TextEquals(a, b));

  const std::string second = "0123456789";
  EXPECT_EQ(View(JoinText(ToCounted(std::string(250, 'a')), ToCounted(second))),
            std::string(250, 'a') + "01234");
  EXPECT_EQ(View(JoinText(ToCounted(std::string(244, 'p')), ToCounted(second))),
            std::string(244, 'p') + second);
  EXPECT_EQ(View(JoinText(ToCounted(""), ToCounted("\xE9"))), "\xE9");
  EXPECT_EQ(ToLongText(ToCounted(std::string("\x01\0\xFF", 3))), std::string("\x01\0\xFF", 3));
}

TEST(Options, TruncationNumberDeleteAndFolder) {
  const std::pair<const char*, std::int32_t> numbers[] = {
      {"1000", 1000}, {"1000kb", 1000}, {"", 0}, {"k", 0}, {"-5", -5}, {" 12", 12},
      {"$10", 16}, {"12 34", 12}, {"1e3", 1}, {"0x10", 0}, {"2147483648", 214748364},
      {"99999999999", 999999999}, {"$123456789", 0x12345678}};
  for (const auto& [text, kb] : numbers) EXPECT_EQ(ParseLeadingNumber(text), kb) << text;

  struct Row {
    const char* argument;
    bool deletes;
    std::int32_t kb;
    const char* folder;
    ArgumentRole role;
  };
  const auto kD = ArgumentRole::kDelete, kT = ArgumentRole::kTruncate, kF = ArgumentRole::kFolder;
  std::vector<Row> rows = {
      {"/D", true, 0, "Archive", kD}, {"/d", true, 0, "Archive", kD}, {"/Dx", false, 0, "/Dx", kF},
      {"-d", false, 0, "-d", kF}, {"/D ", false, 0, "/D ", kF}, {"/t1000kb", false, 1000, "Archive", kT},
      {"/T$400", false, 1024, "Archive", kT}, {"/t", false, 0, "Archive", kT},
      {"/T0", false, 0, "Archive", kT}, {"/T-5", false, -5, "Archive", kT}, {"/?", false, 0, "/?", kF},
      {"x/T5", false, 0, "x/T5", kF}, {"Archive", false, 0, "Archive", kF},
      {"/tmp", false, 0, "Archive", kT}, {"/d/", false, 0, "/d/", kF}};
#ifdef _WIN32
  rows.push_back({"/T5/", false, 5, "Archive", kT});  // Windows reads options
#else
  // Linux: a second '/' makes a folder name of what would read as an option.
  for (const char* folder : {"/tmp/arch", "/T5/", "/D/x", "//", "a/b/c"})
    rows.push_back({folder, false, 0, folder, kF});
#endif
  for (const Row& row : rows) {
    RunSettings settings;
    EXPECT_EQ(ApplyOption(settings, row.argument), row.role) << row.argument;
    EXPECT_EQ(settings.DeleteOriginals, row.deletes) << row.argument;
    EXPECT_EQ(settings.TruncateKb, row.kb) << row.argument;
    EXPECT_EQ(settings.ArchiveDir, row.folder) << row.argument;
  }
  RunSettings settings;  // later arguments replace earlier ones
  for (const std::string& argument : std::vector<std::string>{
           "one", "/T5", "two", "/t7", "/d", "/T" + std::string(252, '0') + "7"})
    ApplyOption(settings, argument);
  EXPECT_EQ(settings.ArchiveDir, "two");
  EXPECT_EQ(settings.TruncateKb, 0);  // only 250 characters after /T are read
  EXPECT_TRUE(settings.DeleteOriginals);
}

TEST(ShellHabits, ShortcutsAndMistypedOptions) {
  const std::vector<std::pair<std::pair<std::int32_t, const char*>, Shortcut>> shortcuts = {
      {{1, "--help"}, Shortcut::kHelp}, {{1, "-h"}, Shortcut::kHelp},
      {{1, "--version"}, Shortcut::kVersion}, {{2, "--help"}, Shortcut::kNone},
      {{2, "--version"}, Shortcut::kNone}, {{1, "--HELP"}, Shortcut::kNone},
      {{1, "--help "}, Shortcut::kNone}, {{1, "-v"}, Shortcut::kNone}, {{0, ""}, Shortcut::kNone}};
  for (const auto& [args, want] : shortcuts)
    EXPECT_EQ(ShortcutOf(args.first, args.second), want) << args.first << args.second;
  EXPECT_EQ(PatternIndex("--"), 2);
  EXPECT_EQ(PatternIndex("-"), 1);

  for (const char* typo : {"-d", "--delete", "/X", "/backup"}) EXPECT_TRUE(IsMistypedOption(typo)) << typo;
  for (const char* folder : {"backup", "/", "/tmp/", "./-d", "a-"})
    EXPECT_FALSE(IsMistypedOption(folder)) << folder;
  EXPECT_NE(MistypedOptionMessage("-d").find("written ./-d"), std::string::npos);
  EXPECT_NE(MistypedOptionMessage("/x").find("written /x/"), std::string::npos);
  EXPECT_LE(MistypedOptionMessage(std::string(300, '-')).size(), 255u);
}

std::set<std::string> gFiles;
std::vector<std::string> gLookedUp;

bool FakeIsFile(std::string_view name) {
  gLookedUp.emplace_back(name);
  return gFiles.count(std::string(name)) != 0;
}

// A pattern the shell expanded shows as several folder arguments, or as a
// pattern that is itself a file, with a file among the folder arguments.
TEST(ShellHabits, ExpandedPatternIsTold) {
  struct Row {
    std::set<std::string> files;
    const char* pattern;
    std::vector<std::string> folders, expected;
  };
  const Row rows[] = {
      {{"a.log", "b.log", "c.log"}, "a.log", {"b.log", "c.log", "backup"}, {"a.log", "b.log", "c.log"}},
      {{"a.log", "b.log"}, "a.log", {"b.log"}, {"a.log", "b.log"}},
      {{"x.txt"}, "*.log", {"x.txt", "backup"}, {"x.txt"}},
      {{"a.log"}, "a.log", {"backup"}, {}},
      {{"a.log"}, "a.log", {"old", "new"}, {}},
      {{"b.log"}, "*.log", {"b.log"}, {}},
      {{"b.log"}, "gone.log", {"b.log"}, {}},
      {{"a.log", "b*", "c?"}, "a.log", {"b*", "c?"}, {}},  // never looked up
  };
  for (const Row& row : rows) {
    gFiles = row.files;
    gLookedUp.clear();
    EXPECT_EQ(ExpandedNames(row.pattern, row.folders, FakeIsFile), row.expected) << row.pattern;
    for (const std::string& name : gLookedUp) EXPECT_EQ(name.find_first_of("*?"), std::string::npos);
  }
  EXPECT_NE(ExpandedPatternMessage({"a.log", "b.log"}).find("(a.log b.log)"), std::string::npos);
  for (const auto& names : {std::vector<std::string>(200, "service-2026-12-07.log"),
                            std::vector<std::string>{std::string(250, 'x'), "b.log"}}) {
    const std::string message = ExpandedPatternMessage(names);
    EXPECT_LE(message.size(), 255u);
    EXPECT_NE(message.find("...): quote the pattern"), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace quilbo
