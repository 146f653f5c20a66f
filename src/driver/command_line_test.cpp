#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "support/fault_platform.h"

namespace quilbo {
namespace {

using testing::FaultPlan;
using testing::FaultTable;
using testing::ScopedFaults;

struct ScanCase {
  std::string line;
  std::int32_t count;
  std::vector<std::string> arguments;  // indexes 1, 2, ...
};

std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte >= 127) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// Checks a row against the pure scanner: the count, every argument, and the
// empty string just past both ends.
void ExpectScans(const ScanCase& c) {
  SCOPED_TRACE("command line: [" + Printable(c.line) + "]");
  ASSERT_EQ(c.count, c.count < 0 ? -1 : static_cast<std::int32_t>(c.arguments.size()));
  EXPECT_EQ(CountArguments(c.line.c_str()), c.count);
  for (std::size_t i = 0; i < c.arguments.size(); ++i) {
    const auto index = static_cast<std::int32_t>(i + 1);
    EXPECT_EQ(ArgumentAt(c.line.c_str(), index), c.arguments[i])
        << "index " << index;
  }
  const std::int32_t past = (c.count < 0 ? 0 : c.count) + 1;
  EXPECT_EQ(ArgumentAt(c.line.c_str(), past).size(), 0) << "index " << past;
  EXPECT_EQ(ArgumentAt(c.line.c_str(), -1).size(), 0);
  EXPECT_EQ(ArgumentAt(c.line.c_str(), INT32_MIN).size(), 0);
  EXPECT_EQ(ArgumentAt(c.line.c_str(), INT32_MAX).size(), 0);
}

// The documented command lines and the arguments they give.
std::vector<ScanCase> DocumentedRows() {
  return {
      {"prog a b", 2, {"a", "b"}},
      {"prog   ", 0, {}},
      {"prog \t \r\n", 0, {}},
      {R"("C:\My Tools\q.exe" *.log "old logs" /d)", 3, {"*.log", "old logs", "/d"}},
      {R"(prog "" b)", 1, {"b"}},
      {R"(prog ""x b)", 2, {"x", "b"}},
      {R"(prog ab"c d"ef)", 1, {"abc def"}},
      {R"(prog a""b)", 1, {"ab"}},
      {R"(prog "abc)", 1, {"abc"}},
      {R"(prog a\"b c)", 1, {R"(a\b c)"}},
      {R"(prog """a b" c)", 2, {"a b", "c"}},
      {R"(prog " " x)", 2, {" ", "x"}},
      {R"(prog a ")", 1, {"a"}},
      {"prog a \" ", 2, {"a", " "}},
      {R"(prog "" "")", 0, {}},
      {"prog\ta\r\nb", 2, {"a", "b"}},
      {"", -1, {}},
      {" ", -1, {}},
      {" \t\r\n  ", -1, {}},
  };
}

TEST(CountArguments, DocumentedCommandLines) {
  for (const ScanCase& c : DocumentedRows()) ExpectScans(c);
}

TEST(ArgumentAt, IndexZeroIsTheProgramNameAsTyped) {
  EXPECT_EQ(ArgumentAt(R"("C:\My Tools\q.exe" *.log)", 0), R"(C:\My Tools\q.exe)");
  EXPECT_EQ(ArgumentAt("  prog a", 0), "prog");
  EXPECT_EQ(ArgumentAt(R"(""prog a)", 0), "prog");
  EXPECT_EQ(ArgumentAt("", 0).size(), 0);
  EXPECT_EQ(ArgumentAt("   ", 0).size(), 0);
}

TEST(CountArguments, NullCommandLineHasNoToken) {
  EXPECT_EQ(CountArguments(nullptr), -1);
  EXPECT_EQ(ArgumentAt(nullptr, 0).size(), 0);
  EXPECT_EQ(ArgumentAt(nullptr, 1).size(), 0);
}

// Every byte from 1 to 32 separates tokens, before, between and after them,
// alone or in runs; inside a quoted section it is kept.
TEST(CountArguments, EveryByteFrom1To32Separates) {
  for (int b = 1; b <= 32; ++b) {
    const std::string s(1, static_cast<char>(b));
    ExpectScans({s + "prog" + s + "a" + s + s + "b" + s, 2, {"a", "b"}});
    ExpectScans({"prog" + s + "\"x" + s + "y\"" + s + "z", 2, {"x" + s + "y", "z"}});
    ExpectScans({s + s + s, -1, {}});
    ExpectScans({"prog" + s, 0, {}});
    ExpectScans({"prog\"" + s + "\"", 0, {}});  // the name is prog<b>
    EXPECT_EQ(ArgumentAt(("prog\"" + s + "\"").c_str(), 0), "prog" + s);
  }
}

TEST(CountArguments, ByteThirtyThreeIsOrdinary) {
  ExpectScans({"prog !a!", 1, {"!a!"}});
}

// Byte 127 and every byte from 128 to 255 is an ordinary character that
// comes through unchanged, inside a token or as one.
TEST(CountArguments, Bytes127To255AreOrdinaryCharacters) {
  for (int b = 127; b <= 255; ++b) {
    const std::string s(1, static_cast<char>(b));
    ExpectScans({"prog a" + s + "b " + s + " \"" + s + " " + s + "\"", 3,
                 {"a" + s + "b", s, s + " " + s}});
  }
  std::string all;
  for (int b = 127; b <= 255; ++b) all += static_cast<char>(b);
  ExpectScans({"prog " + all + " end", 2, {all, "end"}});
}

// A zero byte ends the command line.
TEST(CountArguments, ZeroByteEndsTheCommandLine) {
  const std::string line("prog a\0b c", 10);
  EXPECT_EQ(CountArguments(line.c_str()), 1);
  EXPECT_EQ(ArgumentAt(line.c_str(), 1), "a");
  EXPECT_EQ(ArgumentAt(line.c_str(), 2).size(), 0);
}

TEST(CountArguments, PairsOfQuotes) {
  const ScanCase cases[] = {
      {R"(prog """" x)", 1, {"x"}},
      {R"(prog """""")", 0, {}},
      {R"(prog "" "" b)", 1, {"b"}},
      {R"(prog "" """" "" b "" c)", 2, {"b", "c"}},
      {R"(prog a"" b)", 2, {"a", "b"}},  // inside a token: an empty section
      {R"(prog x"")", 1, {"x"}},
      {R"(prog """"a)", 1, {"a"}},
      {R"(prog """")", 0, {}},
      {R"(prog """ ")", 1, {" "}},       // a pair, then a quoted blank
      {R"(prog """)", 0, {}},            // a pair, then a lone quote at the end
      {R"(prog "a"b"c")", 1, {"abc"}},
      {R"(prog "a b""c d")", 1, {"a bc d"}},
      {R"(prog """"x"")", 1, {"x"}},
      {R"(prog a""""b)", 1, {"ab"}},
      {R"("")", -1, {}},
      {R"("" "")", -1, {}},
      {R"(""prog)", 0, {}},
      {R"(prog "")", 0, {}},
  };
  for (const ScanCase& c : cases) ExpectScans(c);
}

TEST(CountArguments, UnterminatedQuotes) {
  const ScanCase cases[] = {
      {R"(prog "abc def)", 1, {"abc def"}},
      {R"(prog a "b c)", 2, {"a", "b c"}},
      {R"(prog "a"b")", 1, {"ab"}},
      {R"(prog ab")", 1, {"ab"}},
      {"prog \"a\tb\r\nc", 1, {"a\tb\r\nc"}},
      {R"(prog ")", 0, {}},
      {R"(")", -1, {}},
      {R"("prog a)", 0, {}},  // the whole rest is the program's name
      {R"(prog a " )", 2, {"a", " "}},
      {"prog a \"\t\t", 2, {"a", "\t\t"}},
  };
  for (const ScanCase& c : cases) ExpectScans(c);
}

TEST(CountArguments, BackslashIsOrdinary) {
  const ScanCase cases[] = {
      {R"(prog a\\ b\)", 2, {R"(a\\)", R"(b\)"}},
      {R"(prog \"a b\")", 1, {R"(\a b\)"}},
      {R"(prog C:\logs\*.log "C:\Old Logs\")", 2, {R"(C:\logs\*.log)", R"(C:\Old Logs\)"}},
  };
  for (const ScanCase& c : cases) ExpectScans(c);
}

// A token longer than 255 characters is cut to its first 255; the scan
// still ends it where the rules do and later arguments keep their indexes.
TEST(ArgumentAt, LongTokensAreCutTo255AndLaterIndexesKept) {
  const std::string x300(300, 'x');
  const std::string y256(256, 'y');
  const std::string z255(255, 'z');
  ExpectScans({"prog " + x300 + " next " + y256 + " " + z255 + " last", 5,
               {x300.substr(0, 255), "next", y256.substr(0, 255), z255, "last"}});

  // Quoted, with blanks inside, and split over several sections.
  const std::string quoted = std::string(150, 'a') + " " + std::string(149, 'b');
  ExpectScans({"prog \"" + quoted + "\" tail", 2, {quoted.substr(0, 255), "tail"}});
  ExpectScans({"prog " + std::string(200, 'c') + "\"" + std::string(100, ' ') +
                   "\"d e",
               2, {std::string(200, 'c') + std::string(55, ' '), "e"}});

  // An unterminated quoted section of 300 characters.
  ExpectScans({"prog a \"" + std::string(300, ' '), 2, {"a", std::string(255, ' ')}});

  // A program name longer than 255 characters.
  ExpectScans({x300 + " a b", 2, {"a", "b"}});
  EXPECT_EQ(ArgumentAt((x300 + " a").c_str(), 0), x300.substr(0, 255));

  // Many long tokens in a row.
  std::string line = "prog";
  std::vector<std::string> expected;
  for (int i = 0; i < 20; ++i) {
    const std::string token(static_cast<std::size_t>(250 + i), static_cast<char>('A' + i));
    line += " " + token;
    expected.push_back(token.substr(0, 255));
  }
  ExpectScans({line, 20, expected});

#ifdef _WIN32
  // Windows counts the UTF-16 characters of the UTF-8 text ("\xD0\xB6" is
  // one, a character beyond U+FFFF two) and keeps a character whole or not
  // at all.
  std::string cyrillic;
  for (int i = 0; i < 256; ++i) cyrillic += "\xD0\xB6";
  ExpectScans({"prog " + cyrillic + " b", 2, {cyrillic.substr(0, 510), "b"}});
  EXPECT_EQ(ArgumentLength(("prog " + cyrillic).c_str(), 1), 256u);
  const std::string face = std::string(254, 'f') + "\xF0\x9F\x98\x80";
  ExpectScans({"prog " + face, 1, {std::string(254, 'f')}});
  EXPECT_EQ(ArgumentLength(("prog " + face).c_str(), 1), 256u);
#endif
}

bool IsAbsolute(std::string_view path) {
#ifdef _WIN32
  const bool drive = path.size() >= 3 &&
                     std::isalpha(static_cast<unsigned char>(path[0])) != 0 &&
                     path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  const bool unc = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
  return drive || unc;
#else
  return !path.empty() && path[0] == '/';
#endif
}

// The native platform: ArgAt(0) is the running executable's full path,
// whatever name the program was started by.
TEST(ArgAt, ZeroIsTheFullPathOfTheExecutable) {
  const std::string path = ArgAt(0);
  const std::string text(path);
  ASSERT_GT(path.size(), 0) << "no executable path";
  EXPECT_TRUE(IsAbsolute(text)) << text;
  FileIdentity identity{};
  EXPECT_TRUE(Os().fileIdentity(text.c_str(), &identity)) << text << " is no file";
  EXPECT_NE(text.find("tests"), std::string::npos) << text;  // this test program
  EXPECT_EQ(ArgAt(0), text);  // the same on every call
}

// The native platform's own path for the other indexes.
TEST(ArgAt, NativePlatformAgreesWithItsSource) {
  if (const char* line = Os().commandLine(); line != nullptr) {
    // Windows: GetCommandLineA through the scanner.
    EXPECT_EQ(ArgCount(), CountArguments(line));
    EXPECT_GE(ArgCount(), 0);
    for (std::int32_t i = 1; i <= ArgCount() + 1; ++i)
      EXPECT_EQ(ArgAt(i), ArgumentAt(line, i)) << i;
  } else {
    int count = 0;
    const char* const* values = nullptr;
    if (Os().splitArguments(&count, &values) && values != nullptr) {
      std::int32_t index = 0;
      for (int i = 1; i < count; ++i) {
        if (values[i][0] == '\0') continue;  // empty arguments are skipped
        ++index;
        EXPECT_EQ(ArgAt(index), std::string_view(values[i]).substr(0, 255)) << i;
      }
      EXPECT_EQ(ArgCount(), index);
    } else {
      EXPECT_EQ(ArgCount(), -1);  // the argument vector was never handed over
      EXPECT_EQ(ArgAt(1).size(), 0);
    }
  }
  EXPECT_EQ(ArgAt(-1).size(), 0);
  // With no token at all ArgCount is -1, and index 0 is the path.
  const std::int32_t past = (ArgCount() < 0 ? 0 : ArgCount()) + 1;
  EXPECT_EQ(ArgAt(past).size(), 0);
}

// Replaced platform entries. Plain functions read these.
const char* gLine = nullptr;
int gLineCalls = 0;
const char* FakeCommandLine() {
  ++gLineCalls;
  return gLine;
}
const char* NoCommandLine() { return nullptr; }

int gArgc = 0;
const char* const* gArgv = nullptr;
bool gSplitOk = true;
int gSplitCalls = 0;
bool FakeSplit(int* count, const char* const** arguments) {
  ++gSplitCalls;
  *count = gArgc;
  *arguments = gArgv;
  return gSplitOk;
}
bool NoSplit(int* count, const char* const** arguments) {
  *count = 0;
  *arguments = nullptr;
  return false;
}

std::uint32_t gPathSizeAsked = 0;
std::string gPath;
bool gPathTerminated = true;
std::uint32_t FakeExecutablePath(char* buffer, std::uint32_t size) {
  gPathSizeAsked = size;
  if (gPath.empty()) {
    buffer[0] = '\0';
    return 0;
  }
  if (!gPathTerminated) {  // fills the whole buffer, no zero byte
    std::memset(buffer, 'y', size);
    return size;
  }
  const std::size_t n = gPath.size() < size - 1 ? gPath.size() : size - 1;
  std::memcpy(buffer, gPath.data(), n);
  buffer[n] = '\0';
  return static_cast<std::uint32_t>(n);
}

// The Windows road on every platform: the command line from the platform
// (GetCommandLineA), scanned by the rules.
class CommandLinePlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultTable().commandLine = FakeCommandLine;
    FaultTable().splitArguments = NoSplit;
    gLine = nullptr;
    gLineCalls = 0;
  }
  ScopedFaults faults_{FaultPlan{}};
};

TEST_F(CommandLinePlatform, EveryRowThroughArgCountAndArgAt) {
  for (const ScanCase& c : DocumentedRows()) {
    SCOPED_TRACE("command line: [" + Printable(c.line) + "]");
    gLine = c.line.c_str();
    EXPECT_EQ(ArgCount(), c.count);
    for (std::size_t i = 0; i < c.arguments.size(); ++i)
      EXPECT_EQ(ArgAt(static_cast<std::int32_t>(i + 1)), c.arguments[i]);
    EXPECT_EQ(ArgAt((c.count < 0 ? 0 : c.count) + 1).size(), 0);
    EXPECT_EQ(ArgAt(-1).size(), 0);
    EXPECT_EQ(ArgAt(INT32_MIN).size(), 0);
    EXPECT_EQ(ArgAt(INT32_MAX).size(), 0);
  }
}

TEST_F(CommandLinePlatform, LongTokensCutAndLaterIndexesKept) {
  const std::string line = "prog " + std::string(300, 'x') + " b " +
                           std::string(255, 'y') + " \"" + std::string(250, 'z') +
                           "\"" + std::string(6, 'z');
  gLine = line.c_str();
  EXPECT_EQ(ArgCount(), 4);
  EXPECT_EQ(ArgAt(1), std::string(255, 'x'));
  EXPECT_EQ(ArgAt(2), "b");
  EXPECT_EQ(ArgAt(5).size(), 0);
  // The driver learns which ones were cut.
  const bool cut[] = {false, true, false, false, true, false};
  for (std::int32_t i = 0; i <= 5; ++i) EXPECT_EQ(ArgIsCut(i), cut[i]) << i;
  EXPECT_EQ(ArgumentLength(gLine, 1), 300u);
  EXPECT_EQ(ArgumentLength(gLine, 3), 255u);
  EXPECT_EQ(ArgumentLength(gLine, 4), 256u);  // quotes are not characters
  EXPECT_EQ(ArgumentLength(gLine, 5), 0u);
  EXPECT_EQ(ArgumentLength(gLine, -1), 0u);
  EXPECT_EQ(ArgumentLength(nullptr, 1), 0u);
}

TEST_F(CommandLinePlatform, ZeroIsTheExecutableNotTheTypedName) {
  gLine = "prog a b";  // started by a bare name
  const std::string path = ArgAt(0);
  EXPECT_NE(path, "prog");
  EXPECT_TRUE(IsAbsolute(path)) << path;
  EXPECT_EQ(ArgumentAt(gLine, 0), "prog");  // what the scanner would give
}

TEST_F(CommandLinePlatform, FetchedAfreshByEveryCall) {
  gLine = "prog a";
  EXPECT_EQ(ArgCount(), 1);
  EXPECT_EQ(gLineCalls, 1);
  gLine = "prog a b c";
  EXPECT_EQ(ArgCount(), 3);
  EXPECT_EQ(ArgAt(3), "c");
  EXPECT_EQ(gLineCalls, 3);
  gLine = "prog x";
  EXPECT_EQ(ArgAt(1), "x");
  EXPECT_EQ(ArgAt(3).size(), 0);
}

// The POSIX road on every platform: no command line, the arguments already
// split; ArgCount is argc - 1 and ArgAt(i) is argv[i] unscanned, cut to 255.
class SplitArgumentsPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultTable().commandLine = NoCommandLine;
    FaultTable().splitArguments = FakeSplit;
    gArgc = 0;
    gArgv = nullptr;
    gSplitOk = true;
    gSplitCalls = 0;
  }
  ScopedFaults faults_{FaultPlan{}};
};

TEST_F(SplitArgumentsPlatform, ArgumentsAreTakenAsTheyCame) {
  const std::string x300(300, 'x');
  const char* const argv[] = {"prog", "a b", "*.log", "", x300.c_str(),
                              "\"q\"", "\xE9\x7F\x01", "last", "beyond argc",
                              nullptr};
  gArgc = 8;  // the vector holds more than argc entries: they are not arguments
  gArgv = argv;
  // The empty argument is skipped, as a "" pair on a command line.
  EXPECT_EQ(ArgCount(), 6);
  EXPECT_EQ(ArgAt(1), "a b");
  EXPECT_EQ(ArgAt(2), "*.log");
  EXPECT_EQ(ArgAt(3), std::string(255, 'x'));
  EXPECT_EQ(ArgAt(4), "\"q\"");  // no scanning: quotes stay
  EXPECT_EQ(ArgAt(5), "\xE9\x7F\x01");
  EXPECT_EQ(ArgAt(6), "last");
  EXPECT_EQ(ArgAt(7).size(), 0);
  EXPECT_EQ(ArgAt(8).size(), 0);
  EXPECT_EQ(ArgAt(-1).size(), 0);
  EXPECT_EQ(ArgAt(INT32_MIN).size(), 0);
  EXPECT_EQ(ArgAt(INT32_MAX).size(), 0);
  EXPECT_GE(gSplitCalls, 1);

  const std::string path = ArgAt(0);
  EXPECT_NE(path, "prog");
  EXPECT_TRUE(IsAbsolute(path)) << path;
}

TEST_F(SplitArgumentsPlatform, CutArgumentsAreKnown) {
  const std::string x256(256, 'x');
  const std::string y255(255, 'y');
  const char* const argv[] = {"prog", "", x256.c_str(), y255.c_str(), "a", nullptr};
  gArgc = 5;
  gArgv = argv;
  ASSERT_EQ(ArgCount(), 3);
  const bool cut[] = {false, true, false, false, false};
  for (std::int32_t i = 0; i <= 4; ++i) EXPECT_EQ(ArgIsCut(i), cut[i]) << i;
  EXPECT_FALSE(ArgIsCut(-1));
}

TEST_F(SplitArgumentsPlatform, OnlyTheProgramName) {
  const char* const argv[] = {"prog", "beyond argc", nullptr};
  gArgc = 1;
  gArgv = argv;
  EXPECT_EQ(ArgCount(), 0);
  EXPECT_EQ(ArgAt(1).size(), 0);
}

// Empty arguments anywhere are skipped, as "" pairs are: the later ones
// move up, and a vector of nothing else has no argument.
TEST_F(SplitArgumentsPlatform, EmptyArgumentsAreSkipped) {
  struct Row {
    std::vector<const char*> argv;
    std::vector<std::string> arguments;
  };
  const Row rows[] = {
      {{"prog", "*.log", ""}, {"*.log"}},
      {{"prog", "", "*.log", "", "", "dir", "/d"}, {"*.log", "dir", "/d"}},
      {{"prog", "", ""}, {}},
      {{"", "a"}, {"a"}},  // the program's own name counts whatever it is
      {{"prog", " ", ""}, {" "}},
  };
  for (const Row& row : rows) {
    gArgc = static_cast<int>(row.argv.size());
    gArgv = row.argv.data();
    EXPECT_EQ(ArgCount(), static_cast<std::int32_t>(row.arguments.size()));
    for (std::size_t i = 0; i < row.arguments.size(); ++i)
      EXPECT_EQ(ArgAt(static_cast<std::int32_t>(i + 1)), row.arguments[i]);
    EXPECT_EQ(ArgAt(static_cast<std::int32_t>(row.arguments.size() + 1)).size(), 0);
  }
}

TEST_F(SplitArgumentsPlatform, NoVectorMeansNoToken) {
  gArgc = 0;
  EXPECT_EQ(ArgCount(), -1);
  gSplitOk = false;
  gArgc = 3;
  EXPECT_EQ(ArgCount(), -1);
  EXPECT_EQ(ArgAt(1).size(), 0);
  FaultTable().splitArguments = NoSplit;
  EXPECT_EQ(ArgCount(), -1);
  EXPECT_EQ(ArgAt(1).size(), 0);
  EXPECT_GT(ArgAt(0).size(), 0);  // the path does not come from the vector
}

TEST_F(SplitArgumentsPlatform, NullCommandLineEntryUsesTheVector) {
  FaultTable().commandLine = nullptr;
  const char* const argv[] = {"prog", "one", nullptr};
  gArgc = 2;
  gArgv = argv;
  EXPECT_EQ(ArgCount(), 1);
  EXPECT_EQ(ArgAt(1), "one");
}

// ArgAt(0): asked with a buffer of 260 characters, cut to 255, empty on failure.
class ExecutablePathPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultTable().executablePath = FakeExecutablePath;
    gPathSizeAsked = 0;
    gPath.clear();
    gPathTerminated = true;
  }
  ScopedFaults faults_{FaultPlan{}};
};

TEST_F(ExecutablePathPlatform, AskedWith260BytesAndCutTo255) {
  gPath = std::string(300, 'p');
  const std::string path = ArgAt(0);
  EXPECT_EQ(gPathSizeAsked, 260u * kBytesPerCharacter);
  EXPECT_EQ(path, std::string(255, 'p'));

  gPath = std::string(255, 'q');
  EXPECT_EQ(ArgAt(0), gPath);
  gPath = std::string(256, 'r');
  EXPECT_EQ(ArgAt(0), std::string(255, 'r'));
  gPath = R"(C:\Tools\Quilbo.exe)";
  EXPECT_EQ(ArgAt(0), gPath);
}

TEST_F(ExecutablePathPlatform, UnterminatedBufferIsStillCut) {
  gPath = "anything";
  gPathTerminated = false;
  EXPECT_EQ(ArgAt(0), std::string(255, 'y'));
}

TEST_F(ExecutablePathPlatform, FailureGivesTheEmptyString) {
  gPath.clear();
  EXPECT_EQ(ArgAt(0).size(), 0);
  FaultTable().executablePath = nullptr;
  EXPECT_EQ(ArgAt(0).size(), 0);
}

TEST_F(ExecutablePathPlatform, NotTakenFromTheCommandLine) {
  gPath = "/opt/quilbo/quilbo";
  FaultTable().commandLine = FakeCommandLine;
  gLine = R"("C:\other\name.exe" a)";
  EXPECT_EQ(ArgAt(0), "/opt/quilbo/quilbo");
  EXPECT_EQ(ArgAt(1), "a");
  gLine = nullptr;
}

}  // namespace
}  // namespace quilbo
