// The command-line scanner, the platform's two ways of handing arguments
// over, and the driver's refusal of an argument it would have to cut.
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/program.h"
#include "errors/exceptions.h"
#include "errors/termination.h"
#include "support/fault_platform.h"

namespace quilbo {
namespace {

using testing::FaultTable;

struct ScanCase {
  std::string line;
  std::int32_t count;
  std::vector<std::string> arguments;  // indexes 1, 2, ...
};

// The platform entries the tests replace.
const char* gLine = nullptr;
const char* const* gArgv = nullptr;
int gArgc = 0;
bool gSplitOk = true;
std::string gPath;
std::uint32_t gPathAsked = 0;

const char* FakeLine() { return gLine; }
const char* NoLine() { return nullptr; }

// The count, every argument, and nothing just past either end; through the
// pure scanner and through ArgCount/ArgAt over a platform command line.
void ExpectScans(const ScanCase& c) {
  SCOPED_TRACE("command line: [" + c.line + "]");
  EXPECT_EQ(CountArguments(c.line.c_str()), c.count);
  const std::int32_t past = (c.count < 0 ? 0 : c.count) + 1;
  for (std::int32_t i = 1; i <= past; ++i) {
    const std::string want = i < past ? c.arguments[static_cast<std::size_t>(i - 1)] : "";
    EXPECT_EQ(ArgumentAt(c.line.c_str(), i), want) << i;
  }
  EXPECT_EQ(ArgumentLength(c.line.c_str(), past), 0u);
  EXPECT_EQ(ArgumentAt(c.line.c_str(), -1), "");
  EXPECT_EQ(ArgumentAt(c.line.c_str(), INT32_MAX), "");
  testing::ScopedFaults faults{testing::FaultPlan{}};
  FaultTable().commandLine = FakeLine;
  gLine = c.line.c_str();
  EXPECT_EQ(ArgCount(), c.count);
  for (std::int32_t i = 1; i <= past; ++i)
    EXPECT_EQ(ArgAt(i), i < past ? c.arguments[static_cast<std::size_t>(i - 1)] : "") << i;
  EXPECT_EQ(ArgAt(INT32_MIN), "");
}

std::vector<ScanCase> Rows() {
  const std::string x300(300, 'x'), y256(256, 'y'), z255(255, 'z');
  const std::string ab = std::string(150, 'a') + " " + std::string(149, 'b');
  return {
      {"prog a b", 2, {"a", "b"}},
      {"prog \t \r\n", 0, {}},
      {R"("C:\My Tools\q.exe" *.log "old logs" /d)", 3, {"*.log", "old logs", "/d"}},
      {R"(prog "" b)", 1, {"b"}},          {R"(prog ""x b)", 2, {"x", "b"}},
      {R"(prog ab"c d"ef)", 1, {"abc def"}}, {R"(prog a""b)", 1, {"ab"}},
      {R"(prog "abc)", 1, {"abc"}},         {R"(prog a\"b c)", 1, {R"(a\b c)"}},
      {R"(prog """a b" c)", 2, {"a b", "c"}}, {R"(prog " " x)", 2, {" ", "x"}},
      {R"(prog a ")", 1, {"a"}},            {"prog a \" ", 2, {"a", " "}},
      {R"(prog "" "")", 0, {}},             {"prog\ta\r\nb", 2, {"a", "b"}},
      {"", -1, {}},                         {" \t\r\n  ", -1, {}},
      {R"(prog """" x)", 1, {"x"}},         {R"(prog a"" b)", 2, {"a", "b"}},
      {R"(prog """ ")", 1, {" "}},          {R"(prog """)", 0, {}},
      {R"(prog "a"b"c")", 1, {"abc"}},      {R"(""prog)", 0, {}},
      {R"("prog a)", 0, {}},                {R"(prog \"a b\")", 1, {R"(\a b\)"}},
      {"prog \"a\tb\r\nc", 1, {"a\tb\r\nc"}}, {std::string("prog a\0b c", 10), 1, {"a"}},
      // Long tokens are cut to 255 and end where the rules end them.
      {"prog " + x300 + " next " + y256 + " " + z255 + " last", 5,
       {x300.substr(0, 255), "next", y256.substr(0, 255), z255, "last"}},
      {"prog \"" + ab + "\" tail", 2, {ab.substr(0, 255), "tail"}},
      {"prog " + std::string(200, 'c') + "\"" + std::string(100, ' ') + "\"d e", 2,
       {std::string(200, 'c') + std::string(55, ' '), "e"}},
      {"prog a \"" + x300, 2, {"a", x300.substr(0, 255)}},
      {x300 + " a b", 2, {"a", "b"}},
  };
}

TEST(CommandLine, ScanningRules) {
  for (const ScanCase& c : Rows()) ExpectScans(c);
  // Bytes 1 to 32 separate (and are kept when quoted); 127 to 255 are text.
  for (int b = 1; b <= 255; b = b == 32 ? 127 : b + 1) {
    const std::string s(1, static_cast<char>(b));
    if (b <= 32) {
      ExpectScans({s + "prog" + s + "a" + s + s + "b" + s, 2, {"a", "b"}});
      ExpectScans({"prog" + s + "\"x" + s + "y\"", 1, {"x" + s + "y"}});
      EXPECT_EQ(ArgumentAt(("prog\"" + s + "\" a").c_str(), 0), "prog" + s);
    } else {
      ExpectScans({"prog a" + s + "b " + s + " \"" + s + " " + s + "\"", 3,
                   {"a" + s + "b", s, s + " " + s}});
    }
  }
  EXPECT_EQ(ArgumentAt(R"(""prog a)", 0), "prog");
  EXPECT_EQ(ArgumentAt(R"("C:\My Tools\q.exe" a)", 0), R"(C:\My Tools\q.exe)");
  EXPECT_EQ(ArgumentAt(std::string(300, 'p').c_str(), 0), std::string(255, 'p'));
  EXPECT_EQ(CountArguments(nullptr), -1);
  EXPECT_EQ(ArgumentAt(nullptr, 0), "");
#ifdef _WIN32
  // Windows counts UTF-16 characters and keeps a character whole or not at all.
  std::string cyrillic;
  for (int i = 0; i < 256; ++i) cyrillic += "\xD0\xB6";
  ExpectScans({"prog " + cyrillic + " b", 2, {cyrillic.substr(0, 510), "b"}});
  ExpectScans({"prog " + std::string(254, 'f') + "\xF0\x9F\x98\x80", 1, {std::string(254, 'f')}});
#endif
}

bool FakeSplit(int* count, const char* const** values) {
  *count = gArgc;
  *values = gArgv;
  return gSplitOk;
}
std::uint32_t FakePath(char* buffer, std::uint32_t size) {
  gPathAsked = size;
  if (gPath == "unterminated") {
    std::memset(buffer, 'y', size);
    return size;
  }
  std::snprintf(buffer, size, "%s", gPath.c_str());
  return static_cast<std::uint32_t>(gPath.size());
}

class Arguments : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultTable().commandLine = NoLine;
    FaultTable().splitArguments = FakeSplit;
    gLine = nullptr;
    gSplitOk = true;
  }
  void Split(const std::vector<const char*>& argv) {
    argv_ = argv;
    gArgv = argv_.data();
    gArgc = static_cast<int>(argv_.size());
  }
  testing::ScopedFaults faults_{testing::FaultPlan{}};
  std::vector<const char*> argv_;
};

// Windows: the command line, fetched afresh by every call; the driver
// learns which arguments were cut.
TEST_F(Arguments, CommandLineFetchedByEveryCall) {
  FaultTable().commandLine = FakeLine;
  const std::string line = "prog " + std::string(300, 'x') + " b " + std::string(255, 'y') +
                           " \"" + std::string(250, 'z') + "\"" + std::string(6, 'z');
  gLine = line.c_str();
  EXPECT_EQ(ArgCount(), 4);
  const bool cut[] = {false, true, false, false, true, false};
  for (std::int32_t i = 0; i <= 5; ++i) EXPECT_EQ(ArgIsCut(i), cut[i]) << i;
  EXPECT_EQ(ArgumentLength(gLine, 4), 256u);  // quotes are not characters
  gLine = "prog x";
  EXPECT_EQ(ArgCount(), 1);
  EXPECT_EQ(ArgAt(1), "x");
}

// POSIX: the arguments already split, taken as they came (no scanning),
// empty ones skipped as a "" pair is, entries past argc ignored.
TEST_F(Arguments, SplitVectorTakenAsItCame) {
  const std::string x300(300, 'x'), y255(255, 'y');
  Split({"prog", "a b", "", "*.log", x300.c_str(), "\"q\"", y255.c_str(), "\xE9\x7F\x01", "", "beyond"});
  gArgc = 9;
  const std::vector<std::string> want = {"a b", "*.log", std::string(255, 'x'), "\"q\"", y255,
                                         "\xE9\x7F\x01", ""};
  EXPECT_EQ(ArgCount(), 6);
  for (std::int32_t i = 1; i <= 7; ++i) {
    EXPECT_EQ(ArgAt(i), want[static_cast<std::size_t>(i - 1)]) << i;
    EXPECT_EQ(ArgIsCut(i), i == 3) << i;
  }
  EXPECT_EQ(ArgAt(-1), "");
  EXPECT_FALSE(ArgIsCut(-1));
  Split({"", "", "a", ""});  // the program's own name counts whatever it is
  EXPECT_EQ(ArgCount(), 1);
  EXPECT_EQ(ArgAt(1), "a");
  Split({"prog", ""});
  EXPECT_EQ(ArgCount(), 0);
  FaultTable().commandLine = nullptr;
  Split({"prog", "one"});
  EXPECT_EQ(ArgAt(1), "one");
  // No vector, or a failed hand-over whatever it left behind: no token.
  Split({});
  EXPECT_EQ(ArgCount(), -1);
  Split({"prog", "a", "b"});
  gSplitOk = false;
  EXPECT_EQ(ArgCount(), -1);
  EXPECT_EQ(ArgAt(1), "");
  EXPECT_FALSE(ArgIsCut(1));
}

// ArgAt(0): the executable's path, asked for with 260 characters, cut to
// 255; empty when the platform cannot tell; never the name as typed.
TEST_F(Arguments, ZeroIsTheExecutablePath) {
  const std::string native = ArgAt(0);
  FileIdentity identity{};
  EXPECT_TRUE(Os().fileIdentity(native.c_str(), &identity)) << native;
  EXPECT_NE(native.find("tests"), std::string::npos) << native;
  FaultTable().executablePath = FakePath;
  FaultTable().commandLine = FakeLine;
  gLine = R"("C:\other\name.exe" a)";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"/opt/quilbo/quilbo", "/opt/quilbo/quilbo"}, {std::string(255, 'q'), std::string(255, 'q')},
      {std::string(256, 'r'), std::string(255, 'r')}, {"unterminated", std::string(255, 'y')},
      {"", ""}};
  for (const auto& [path, want] : rows) {
    gPath = path;
    EXPECT_EQ(ArgAt(0), want);
  }
  EXPECT_EQ(gPathAsked, 260u * kBytesPerCharacter);
  FaultTable().executablePath = nullptr;
  EXPECT_EQ(ArgAt(0), "");
}

// A cut pattern or folder would name other files: the run is refused
// before anything is printed or created, whichever argument it is.
TEST_F(Arguments, DriverRefusesAnArgumentItWouldCut) {
  InstallFailureReporting();
  const std::string long1(256, 'a'), long2(300, 'b');
  const std::vector<std::pair<std::vector<const char*>, const char*>> rows = {
      {{"prog", long1.c_str(), "backup"}, "Argument 1 "},
      {{"prog", "*.log", long1.c_str()}, "Argument 2 "},
      {{"prog", "*.log", "/d", "", long2.c_str()}, "Argument 3 "},
  };
  for (const auto& [argv, start] : rows) {
    Split(argv);
    try {
      RunDriver();
    } catch (const Exception& refusal) {
      EXPECT_EQ(std::string(refusal.Message()),
                std::string(start) + "is longer than 255 characters; use a shorter path");
    }
  }
}

}  // namespace
}  // namespace quilbo
