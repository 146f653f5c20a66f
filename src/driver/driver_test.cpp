// The command-line rules: the scanner, the platform's two ways of handing
// arguments over and which arguments they cut, the options and their numbers,
// and what a Unix shell's habits get refused or told.
#include <gtest/gtest.h>

#include "driver/command_line.h"
#include "driver/settings.h"
#include "driver/shell_habits.h"
#include "driver/text_ops.h"
#include "support/fault_platform.h"

namespace quilbo {
namespace {

using testing::FaultTable;

const char* gLine = nullptr;
const char* const* gArgv = nullptr;
int gArgc = 0;
bool gSplitOk = true;
const char* FakeLine() { return gLine; }
bool FakeSplit(int* count, const char* const** values) { return *count = gArgc, *values = gArgv, gSplitOk; }

// The count, every argument and nothing just past either end, through the
// pure scanner and through ArgCount/ArgAt over the platform's command line.
void ExpectScans(const std::string& line, std::int32_t count, const std::vector<std::string>& arguments) {
  SCOPED_TRACE("command line: [" + line + "]");
  testing::ScopedFaults faults{testing::FaultPlan{}};
  FaultTable().commandLine = FakeLine;
  gLine = line.c_str();
  EXPECT_EQ(CountArguments(gLine), count);
  EXPECT_EQ(ArgCount(), count);
  const std::int32_t past = (count < 0 ? 0 : count) + 1;
  for (std::int32_t i = 1; i <= past; ++i) {
    const std::string want = i < past ? arguments[static_cast<std::size_t>(i - 1)] : "";
    EXPECT_EQ(ArgumentAt(gLine, i), want) << i;
    EXPECT_EQ(ArgAt(i), want) << i;
  }
  EXPECT_EQ(ArgumentLength(gLine, past), 0u);
  EXPECT_EQ(ArgumentAt(gLine, -1) + ArgAt(INT32_MIN) + ArgumentAt(gLine, INT32_MAX), "");
}

TEST(CommandLine, ScanningRules) {
  const std::string x300(300, 'x'), y256(256, 'y'), z255(255, 'z');
  const std::string ab = std::string(150, 'a') + " " + std::string(149, 'b');
  const std::vector<std::tuple<std::string, std::int32_t, std::vector<std::string>>> rows = {
      {"prog a b", 2, {"a", "b"}}, {"prog \t \r\n", 0, {}}, {R"(prog "" b)", 1, {"b"}}, {"", -1, {}},
      {R"("C:\My Tools\q.exe" *.log "old logs" /d)", 3, {"*.log", "old logs", "/d"}}, {" \t\r\n ", -1, {}},
      {R"(prog ""x b)", 2, {"x", "b"}}, {R"(prog ab"c d"ef)", 1, {"abc def"}}, {R"(prog a""b)", 1, {"ab"}},
      {R"(prog "abc)", 1, {"abc"}}, {R"(prog a\"b c)", 1, {R"(a\b c)"}}, {R"(prog """a b" c)", 2, {"a b", "c"}},
      {R"(prog " " x)", 2, {" ", "x"}}, {R"(prog a ")", 1, {"a"}}, {"prog a \" ", 2, {"a", " "}},
      {R"(prog "" "")", 0, {}}, {"prog\ta\r\nb", 2, {"a", "b"}}, {R"(prog """" x)", 1, {"x"}},
      {R"(prog a"" b)", 2, {"a", "b"}}, {R"(prog """ ")", 1, {" "}}, {R"(prog """)", 0, {}},
      {R"(prog "a"b"c")", 1, {"abc"}}, {R"(""prog)", 0, {}}, {R"("prog a)", 0, {}},
      {R"(prog \"a b\")", 1, {R"(\a b\)"}}, {"prog \"a\tb\r\nc", 1, {"a\tb\r\nc"}},
      {std::string("prog a\0b c", 10), 1, {"a"}},
      // Long tokens are cut to 255 and still end where the rules end them.
      {"prog " + x300 + " next " + y256 + " " + z255, 4, {x300.substr(0, 255), "next", y256.substr(0, 255), z255}},
      {"prog \"" + ab + "\" tail", 2, {ab.substr(0, 255), "tail"}}, {x300 + " a b", 2, {"a", "b"}},
      {"prog " + std::string(200, 'c') + "\"" + std::string(100, ' ') + "\"d e", 2,
       {std::string(200, 'c') + std::string(55, ' '), "e"}}, {"prog a \"" + x300, 2, {"a", x300.substr(0, 255)}}};
  for (const auto& [line, count, arguments] : rows) ExpectScans(line, count, arguments);
  // Bytes 1 to 32 separate (and are kept when quoted); 127 to 255 are text.
  for (int b = 1; b <= 255; b = b == 32 ? 127 : b + 1) {
    const std::string s(1, static_cast<char>(b));
    if (b <= 32) ExpectScans(s + "prog" + s + "a" + s + s + "\"x" + s + "y\"" + s, 2, {"a", "x" + s + "y"});
    if (b > 32) ExpectScans("prog a" + s + "b " + s + " \"" + s + " " + s + "\"", 3, {"a" + s + "b", s, s + " " + s});
  }
  EXPECT_EQ(ArgumentAt(R"(""prog a)", 0) + ArgumentAt("prog\"\t\" a", 0), "progprog\t");
  EXPECT_EQ(CountArguments(nullptr), -1);
#ifdef _WIN32
  // Windows counts UTF-16 characters and keeps a character whole or not at all.
  std::string cyrillic;
  for (int i = 0; i < 256; ++i) cyrillic += "\xD0\xB6";
  ExpectScans("prog " + cyrillic + " b", 2, {cyrillic.substr(0, 510), "b"});
  ExpectScans("prog " + std::string(254, 'f') + "\xF0\x9F\x98\x80", 1, {std::string(254, 'f')});
#endif
}

// Both roads tell the driver which arguments were cut: the command line
// (Windows) and the vector already split (POSIX), whose arguments are taken
// as they came, empty ones skipped as a "" pair is, entries past argc not.
TEST(Arguments, CutArgumentsAndTheSplitVector) {
  testing::ScopedFaults faults{testing::FaultPlan{}};
  std::vector<const char*> argv;
  const auto split = [&](const std::vector<const char*>& values) {
    argv = values, gArgv = argv.data(), gArgc = static_cast<int>(argv.size());
  };
  FaultTable().commandLine = FakeLine;
  const std::string line = "prog " + std::string(300, 'x') + " b " + std::string(255, 'y') + " \"" +
                           std::string(250, 'z') + "\"" + std::string(6, 'z');
  gLine = line.c_str();
  for (std::int32_t i = 0; i <= 5; ++i) EXPECT_EQ(ArgIsCut(i), i == 1 || i == 4) << i;
  FaultTable().commandLine = nullptr, FaultTable().splitArguments = FakeSplit;
  const std::string x300(300, 'x'), y255(255, 'y');
  split({"prog", "a b", "", "*.log", x300.c_str(), "\"q\"", y255.c_str(), "\xE9\x7F\x01", "", "beyond"});
  gArgc = 9;
  const std::vector<std::string> want = {"a b", "*.log", x300.substr(0, 255), "\"q\"", y255, "\xE9\x7F\x01", ""};
  EXPECT_EQ(ArgCount(), 6);
  for (std::int32_t i = 1; i <= 7; ++i) {
    EXPECT_EQ(ArgAt(i), want[static_cast<std::size_t>(i - 1)]) << i;
    EXPECT_EQ(ArgIsCut(i), i == 3) << i;
  }
  EXPECT_EQ(ArgAt(-1), "");
  split({"", "", "a", ""});  // the program's own name counts whatever it is
  EXPECT_EQ(ArgCount(), 1);
  EXPECT_EQ(ArgAt(1), "a");
  // No vector, or a failed hand-over whatever it left behind: no token.
  split({});
  EXPECT_EQ(ArgCount(), -1);
  split({"prog", "a", "b"}), gSplitOk = false;
  EXPECT_EQ(ArgCount(), -1);
  EXPECT_EQ(ArgAt(1), "");
  EXPECT_FALSE(ArgIsCut(1));
}

TEST(Options, NumbersAndDeleteTruncateOrFolder) {
  const std::tuple<std::string, std::int32_t, std::int32_t> parses[] = {  // text, value, error position
      {"1000", 1000, 0}, {"1000kb", 0, 5}, {"", 0, 1}, {"-5", -5, 0}, {"+7", 7, 0}, {" 12", 12, 0}, {"12 ", 0, 3},
      {"\t12", 0, 1}, {"   ", 0, 4}, {"-", 0, 2}, {" -$", 0, 4}, {"--5", 0, 2}, {"1$", 0, 2}, {"1e3", 0, 2},
      {"9:", 0, 2}, {"/1", 0, 1}, {"1\xB9", 0, 2}, {std::string("12\0" "3", 4), 0, 3}, {"$10", 16, 0},
      {"$aBcDeF", 0xABCDEF, 0}, {"$FFG", 0, 4}, {"-$10", -16, 0}, {"$FFFFFFFF", -1, 0},
      {"-$80000001", INT32_MAX, 0}, {"$80000000", INT32_MIN, 0}, {"$123456789", 0, 10},
      {"$000000000000FFFFFFFF", -1, 0}, {"2147483647", INT32_MAX, 0}, {"2147483648", 0, 10},
      {"-2147483647", -INT32_MAX, 0}, {"-2147483648", 0, 11}, {"10000000000", 0, 11},
      {"0002147483648", 0, 13}, {"2147483648kb", 0, 10}, {std::string(1000, ' ') + "4!", 0, 1002}};
  for (const auto& [text, value, error] : parses) {
    EXPECT_EQ(ParseInteger(text).value, value) << "'" << text << "'";
    EXPECT_EQ(ParseInteger(text).errorPosition, error) << "'" << text << "'";
  }
  const std::pair<const char*, std::int32_t> leading[] = {
      {"1000kb", 1000}, {"k", 0}, {"-5", -5}, {"$10", 16}, {"12 34", 12}, {"1e3", 1}, {"0x10", 0},
      {"2147483648", 214748364}, {"99999999999", 999999999}, {"$123456789", 0x12345678}};
  for (const auto& [text, kb] : leading) EXPECT_EQ(ParseLeadingNumber(text), kb) << text;
  const auto kD = ArgumentRole::kDelete, kT = ArgumentRole::kTruncate, kF = ArgumentRole::kFolder;
  std::vector<std::tuple<const char*, bool, std::int32_t, const char*, ArgumentRole>> rows = {
      {"/D", true, 0, "Archive", kD}, {"/d", true, 0, "Archive", kD}, {"/Dx", false, 0, "/Dx", kF},
      {"-d", false, 0, "-d", kF}, {"/D ", false, 0, "/D ", kF}, {"/t1000kb", false, 1000, "Archive", kT},
      {"/T$400", false, 1024, "Archive", kT}, {"/t", false, 0, "Archive", kT}, {"/T-5", false, -5, "Archive", kT},
      {"/?", false, 0, "/?", kF}, {"x/T5", false, 0, "x/T5", kF}, {"Archive", false, 0, "Archive", kF},
      {"/tmp", false, 0, "Archive", kT}, {"/d/", false, 0, "/d/", kF}};
#ifdef _WIN32
  rows.emplace_back("/T5/", false, 5, "Archive", kT);  // Windows reads options
#else
  // Linux: a second '/' makes a folder name of what would read as an option.
  for (const char* folder : {"/tmp/arch", "/T5/", "/D/x", "//"}) rows.emplace_back(folder, false, 0, folder, kF);
#endif
  for (const auto& [argument, deletes, kb, folder, role] : rows) {
    RunSettings settings;
    EXPECT_EQ(ApplyOption(settings, argument), role) << argument;
    EXPECT_EQ(settings.DeleteOriginals, deletes) << argument;
    EXPECT_EQ(settings.TruncateKb, kb) << argument;
    EXPECT_EQ(settings.ArchiveDir, folder) << argument;
  }
}

// A first argument that is an option is refused with the order that was
// meant; a pattern, however it starts, is not. Linux only: Windows takes
// the first argument as the pattern whatever it is.
TEST(ShellHabits, OptionBeforeThePatternAndExpandedPatterns) {
  const std::pair<std::vector<std::string>, const char*> rows[] = {
      {{"/d", "*.log", "bk", "/t5"}, "The option /d comes after the pattern: quilbo '*.log' bk /t5 /d"},
      {{"/T5"}, "The option /T5 comes after the pattern: quilbo 'Filepattern' /T5"},
      {{"-d", "*.log"}, "Unknown option -d: the pattern comes first"},
      {{"-"}, "Unknown option -: "}, {{"--x*"}, "Unknown option --x*: "},
      {{"/app.log"}, "Unknown option /app.log: "}, {{"--version", "x"}, "--version takes no other argument"},
      {{"-h", "x"}, "-h takes no other argument"},
      {{"*.log", "/d"}, ""}, {{"/var/log/*.log"}, ""}, {{"/tmp/x"}, ""}, {{"/*.log"}, ""}, {{"/d/"}, ""},
      {{"//app.log"}, ""}, {{"logs/-d"}, ""}, {{"./-d"}, ""}, {{"d"}, ""}};
  for (const auto& [arguments, start] : rows) {
    const std::string message = OptionFirstMessage(arguments);
    if (!kShellHabits) continue;
    EXPECT_EQ(message.substr(0, std::string_view(start).size()), start) << arguments[0];
    EXPECT_EQ(message.empty(), *start == '\0') << arguments[0];
    EXPECT_LE(message.size(), 255u);
  }
  EXPECT_LE(OptionFirstMessage({"/d", std::string(255, 'p'), std::string(255, 'f')}).size(), 255u);
  // The signs of a pattern the shell expanded: folder arguments that are
  // files, more than one of them or after a pattern that is a file.
  const auto isFile = [](std::string_view name) { return name.ends_with(".log"); };
  const std::tuple<const char*, std::vector<std::string>, std::vector<std::string>> expansions[] = {
      {"a.log", {"b.log", "bk"}, {"a.log", "b.log"}}, {"*.log", {"b.log", "bk"}, {"b.log"}},
      {"a.log", {"bk"}, {}}, {"*.log", {"b.log"}, {}}, {"x", {"a", "b"}, {}}, {"a.log", {"b*.log"}, {}}};
  for (const auto& [pattern, folders, names] : expansions)
    EXPECT_EQ(ExpandedNames(pattern, folders, isFile), names) << pattern << " " << folders[0];
}

}  // namespace
}  // namespace quilbo
