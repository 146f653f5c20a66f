// Text streams: the copy rule and the read operations, opens and the
// end-marker cut, when bytes reach the platform, failures, the console.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <utility>

#include "errors/io_status.h"
#include "errors/termination.h"
#include "support/fault_platform.h"
#include "support/fs_fixtures.h"
#include "textio/console.h"
#include "textio/text_rule.h"

namespace quilbo::testing {
namespace {

#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";  // writes succeed and vanish
#else
constexpr const char* kNullDevice = "/dev/null";
#endif
constexpr std::uint32_t kLarge = 64 * 1024;
using Opener = void (*)(TextStream&);

void Line(TextStream& stream, std::string_view text) { WriteText(stream, text, 0), WriteLineEnd(stream); }

// Every write's size, on top of the counting table; a "disk" with room
// left takes at most 50 bytes a call and fails once it is full.
std::vector<std::size_t> gWrites;
bool (*gForward)(OsHandle, const void*, std::uint32_t, std::uint32_t*);
int gRoom = -1;  // -1: no limit

bool RecordingWrite(OsHandle file, const void* bytes, std::uint32_t size, std::uint32_t* done) {
  gWrites.push_back(size);
  if (gRoom < 0) return gForward(file, bytes, size, done);
  if (gRoom == 0 && size != 0) return NativePlatform().setLastError(kErrDiskFull), false;
  const std::uint32_t take = std::min({size, 50u, static_cast<std::uint32_t>(gRoom)});
  gRoom -= static_cast<int>(take);
  return gForward(file, bytes, take, done);
}

void Record(const FaultPlan& plan = {}, int room = -1) {
  InstallFaults(plan), gWrites.clear();
  gRoom = room, gForward = FaultTable().writeFile, FaultTable().writeFile = RecordingWrite;
}

class Textio : public ::testing::Test {
 protected:
  void TearDown() override {
    RemoveFaults();
    EXPECT_EQ(TakeIoStatus(), 0) << "a failure was left pending";
  }
  std::string PathOf(std::string_view name) const { return dir_.At(name); }
  // A file of the test's folder or the device; a size of 0 keeps the built-in buffer.
  void Open(TextStream& s, std::string_view name, Opener open, std::uint32_t size = 0, int which = 0) {
    AttachName(s, name == kNullDevice ? std::string(name) : PathOf(name));
    if (size != 0) UseBuffer(s, buffers_[which].data(), size);
    open(s);
  }
  // What the copy loop of the archive engine appends to a new archive.
  std::string Copied(std::string_view source, std::uint32_t size = 0) {
    TextStream from{}, to{};
    WriteFile(PathOf("source.log"), source);
    Open(from, "source.log", OpenRead, size, 0);
    Open(to, "archive.log", OpenNew, size, 1);
    for (std::string piece; !AtEnd(from);) {
      ReadPiece(from, piece);
      WriteText(to, piece, 0);
      if (AtLineEnd(from)) SkipLineEnd(from), WriteLineEnd(to);
    }
    CloseStream(from), CloseStream(to);
    return ReadWholeFile(PathOf("archive.log"));
  }
  TempDir dir_;
  std::vector<char> buffers_[2] = {std::vector<char>(kLarge), std::vector<char>(kLarge)};
};

// Sources and their copies by the line rule: CRs dropped, LFs as CR LF, a
// last line closed, nothing from the first 0x1A on.
std::vector<std::pair<std::string, std::string>> RuleRows() {
  const std::string x13(13, 'x'), y20(20, 'y');
  return {{"a\r\nb\r\n", "a\r\nb\r\n"}, {"a\nb\n", "a\r\nb\r\n"}, {"a\r\nb", "a\r\nb\r\n"},
          {"a\rb\r\n", "ab\r\n"}, {"a\r\r\n", "a\r\n"}, {"a\r", "a\r\n"}, {"\r", "\r\n"}, {"\n", "\r\n"},
          {"a\n\r", "a\r\n\r\n"}, {"a\r\n\r\nb", "a\r\n\r\nb\r\n"}, {"a\x1A" "b\r\n", "a\r\n"},
          {"a\r\n\x1A", "a\r\n"}, {"a\r\x1A\n", "a\r\n"}, {"\x1A" "a\n", ""}, {"", ""},
          {std::string("\0\x80\xFF\x19\x1B\n", 6), std::string("\0\x80\xFF\x19\x1B\r\n", 7)},
          {x13 + "\r" + y20 + "\n" + x13, x13 + y20 + "\r\n" + x13 + "\r\n"},
          {x13 + "\r\n" + y20 + "\x1A" + x13, x13 + "\r\n" + y20 + "\r\n"}};
}

// The rule as the count and the cut apply it, to a log that comes in blocks:
// whatever the blocks, the copy is the same, and the count agrees with it.
TEST(TextRule, ConvertsAndCountsWhereverTheBlocksEnd) {
  for (const auto& [source, copy] : RuleRows()) {
    for (const std::size_t block : {1u, 2u, 3u, 7u, 8u, 9u, 14u, 15u, 100u}) {
      TextState converting{}, counting{};
      std::string made;
      std::int64_t counted = 0;
      for (std::size_t at = 0; at < source.size(); at += block) {
        const std::string part = source.substr(at, block);
        const auto size = static_cast<std::uint32_t>(part.size());
        std::string room(2 * part.size(), '?');
        std::uint32_t used = 0;
        made.append(room, 0, ConvertText(converting, part.data(), size, room.data(), &used));
        const TextCount count = CountText(counting, part.data(), size);
        EXPECT_EQ(used, count.text) << ::testing::PrintToString(part);
        counted += count.copy;
      }
      made.append(kLineEnd, ClosingBytes(converting));
      counted += ClosingBytes(counting);
      EXPECT_EQ(made, copy) << ::testing::PrintToString(source) << " in blocks of " << block;
      EXPECT_EQ(counted, std::ssize(copy)) << ::testing::PrintToString(source) << " in blocks of " << block;
      EXPECT_EQ(converting.ended && counting.ended, source.find('\x1A') != std::string::npos);
    }
  }
}

// Random sources over the bytes that matter and the control bytes next to
// them, CR LF pairs laid at and around buffer boundaries, long lines across
// the 255-byte scans; through the built-in 128 bytes and caller buffers.
TEST_F(Textio, CopyFollowsTheLineRule) {
  for (const auto& [source, copy] : RuleRows()) EXPECT_EQ(Copied(source), copy) << ::testing::PrintToString(source);
  std::mt19937 random(20240611);
  const char alphabet[] = {'a', '\r', '\n', '\x1A', '\0', '\xFF', '\x0C', '\x0E', '\x19', '\x1B', '\t'};
  for (int n = 0; n < 900; ++n) {
    std::string source;
    const bool plain = random() % 2 == 0;  // mostly 'a': long lines
    for (auto length = random() % 2500; source.size() < length;) {
      const auto pick = random() % (plain ? 200 : sizeof alphabet);
      source += pick < sizeof alphabet && (n % 3 != 0 || pick != 3) ? alphabet[pick] : 'a';
    }
    const std::uint32_t size = n % 2 == 0 ? 0 : 1000;
    const std::size_t step = size == 0 ? 128 : size;
    for (std::size_t edge = step; edge + 2 <= source.size(); edge += step)
      source.replace(edge - 2 + random() % 4, 2, "\r\n");
    ASSERT_EQ(Copied(source, size), CopiedByTheLineRule(source)) << n << ": " << ::testing::PrintToString(source);
  }
}

// Scripts of read operations and their answers: P ReadPiece ("[text]", "<length>" when
// long), L AtLineEnd, E AtEnd (T or F), S SkipLineEnd. Pieces end where scans of 255 bytes
// (CRs counted) say.
TEST_F(Textio, ReadOperationsAnswerAsTheRulesSay) {
  const std::string x126(126, 'x'), x127(127, 'x');
  const std::vector<std::vector<std::string>> rows = {
      {x127 + "\r\nb", "SPLE", "[b]TT"}, {x126 + "\r\r\nb", "SLSP", "T[b]"}, {x127 + "\r", "SE", "T"}, {"a\r", "PLE", "[a]TT"},
      {"\n", "ELSE", "FTT"}, {"a\x1A" "b\r\n", "PLE", "[a]TT"}, {"ab\x1A" "c\n", "SEP", "T[]"},
      {"\r\r\nq", "SELSP", "FT[q]"}, {"", "ELP", "TT[]"}, {std::string(600, 'x') + "\nb", "PLSPE", "<600>T[b]T"},
      {std::string(100, 'a') + "\r" + std::string(199, 'b') + "\nc", "PLPLSP", "<254>F<45>T[c]"},
      {std::string(255, 'a') + "\r" + std::string(300, 'b') + "\n", "PLPL", "<509>F<46>T"}};
  for (const std::uint32_t size : {0u, 1000u}) {
    for (const auto& row : rows) {
      TextStream stream{};
      WriteFile(PathOf("script.log"), row[0]), Open(stream, "script.log", OpenRead, size);
      std::string answers, piece;
      for (const char op : row[1]) {
        if (op == 'P') ReadPiece(stream, piece);
        if (op == 'P') answers += piece.size() > 20 ? "<" + std::to_string(piece.size()) + ">" : "[" + piece + "]";
        if (op == 'L' || op == 'E') answers += (op == 'L' ? AtLineEnd(stream) : AtEnd(stream)) ? 'T' : 'F';
        if (op == 'S') SkipLineEnd(stream);
      }
      EXPECT_EQ(answers, row[2]) << ::testing::PrintToString(row[0]) << " buffer " << size;
      CloseStream(stream);
    }
  }
}

// A stream is handed a file its caller created only when closed. It then
// writes it as a new disk file (buffered, whatever the stream was before),
// and once closed opens again by its name like any other stream.
TEST_F(Textio, StreamReusedAfterOpenNewFile) {
  WriteFile(PathOf("in.log"), "abc\n");
  for (const char* before : {"in.log", kNullDevice}) {
    TextStream s{};
    const bool reading = before[0] == 'i';
    std::string piece;
    Open(s, before, reading ? OpenRead : OpenNew), reading ? ReadPiece(s, piece) : WriteText(s, "x", 0);
    OpenNewFile(s, kInvalidHandle);
    EXPECT_EQ(TakeIoStatus(), kIoNotAttached);
    CloseStream(s);
    const std::string made = PathOf(reading ? "a.log" : "b.log");
    Record(), OpenNewFile(s, CreateFileByPath(made.c_str(), FileAccess::kReadWrite, FileCreation::kCreateNew));
    Line(s, "one");
    EXPECT_EQ(gWrites.size(), 0u) << before;  // not written through
    CloseStream(s), (reading ? OpenRead : OpenNew)(s);
    EXPECT_EQ(s.mode, reading ? StreamMode::kReading : StreamMode::kWriting);
    CloseStream(s);
    EXPECT_EQ(ReadWholeFile(made), "one\r\n") << before;
  }
}

// The first 0x1A among an archive's last 128 bytes is cut before appending,
// whatever the buffer; the cut is best effort, but writing never starts
// inside the old text.
TEST_F(Textio, AppendCutsAtTheFirstMarkerInTheLast128Bytes) {
  constexpr std::size_t kBig = 100000;
  const std::vector<std::tuple<std::size_t, std::vector<std::size_t>, std::size_t>> rows = {
      {0, {}, 0}, {5, {}, 5}, {300, {250, 260}, 250}, {4, {3}, 3}, {kBig, {kBig - 128}, kBig - 128},
      {kBig, {kBig - 129}, kBig}, {kBig, {kBig - 5000}, kBig}, {kBig, {1000, kBig - 1}, kBig - 1}};
  for (const std::uint32_t size : {0u, kLarge}) {
    for (const auto& [length, markers, kept] : rows) {
      std::string before(length, 't');
      for (const std::size_t at : markers) before[at] = '\x1A';
      WriteFile(PathOf("archive.log"), before);
      TextStream archive{};
      Open(archive, "archive.log", OpenAppend, size);
      WriteText(archive, "Z", 0);
      CloseStream(archive);
      EXPECT_TRUE(ReadWholeFile(PathOf("archive.log")) == before.substr(0, kept) + "Z") << length << " " << kept;
    }
  }
  // A short archive fails the seek to its last 128 bytes and is read from its start.
  const std::string shortOne = "old\x1Axy";
  const std::string longOne = "o\x1A" + std::string(200, 't');
  const std::vector<std::tuple<Service, std::uint64_t, std::int32_t, std::string, std::string>> failures = {
      {Service::kSetEndOfFile, 1, 0, shortOne, "oldZxy"},  // writing starts at the marker
      {Service::kReadFile, 1, 0, shortOne, shortOne + "Z"}, {Service::kSetFilePointer, 2, 0, shortOne, shortOne + "Z"},
      {Service::kSetFilePointer, 1, 0, longOne, longOne + "Z"},  // its first bytes are not its last
      {Service::kSetFilePointer, 2, 87, shortOne, shortOne}};  // the end cannot be reached
  for (const auto& [service, nth, code, before, after] : failures) {
    TextStream archive{};
    WriteFile(PathOf("archive.log"), before), InstallFaults({0, service, nth, code == 0, 87});
    Open(archive, "archive.log", OpenAppend);
    EXPECT_GE(Counts().injected, 1U);
    EXPECT_EQ(TakeIoStatus(), code);
    if (code == 0) WriteText(archive, "Z", 0), CloseStream(archive);
    EXPECT_EQ(archive.mode, StreamMode::kClosed);
    EXPECT_EQ(ReadWholeFile(PathOf("archive.log")), after);
  }
}

// A disk file is written when its buffer fills and at the close; a device at the end of
// every statement, 128 bytes at most whatever buffer it was offered, and never cut.
TEST_F(Textio, WritesFollowTheKindOfFile) {
  const std::string ten(10, 't'), w300(300, 'w');
  const std::vector<std::tuple<const char*, Opener, std::uint32_t, std::string, int, std::vector<std::size_t>>> rows = {
      {"a.log", OpenNew, 0, ten, 10, {120}}, {"a.log", OpenAppend, 0, ten, 13, {128, 28}},
      {"a.log", OpenAppend, kLarge, w300, 1, {302}}, {kNullDevice, OpenAppend, 0, ten, 2, {12, 12, 0}},
      {kNullDevice, OpenNew, kLarge, w300, 1, {128, 128, 46, 0}}};
  for (const auto& [name, open, size, text, lines, writes] : rows) {
    TextStream s{};
    WriteFile(PathOf("a.log"), ""), Record(), Open(s, name, open, size);
    const bool device = std::string_view(name) == kNullDevice;
    EXPECT_TRUE(open != OpenAppend || (CallsOf(Service::kSetFilePointer) > 0) != device);
    for (int i = 0; i < lines; ++i) Line(s, text);
    CloseStream(s);
    EXPECT_EQ(gWrites, writes) << name << " " << lines;
    EXPECT_EQ(ReadWholeFile(PathOf("a.log")).size(), device ? 0 : static_cast<std::size_t>(lines) * (text.size() + 2));
  }
}

// A failed transfer gives its bytes up (never written twice) and keeps its error: nothing
// more is written while it is pending. A write that takes only part of the bytes is
// carried on, or its failure reported, and what the system took stays.
TEST_F(Textio, FailedAndShortWrites) {
  std::string text;
  for (std::size_t i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 23);
  TextStream s{};
  Open(s, "a.log", OpenNew), Record({0, Service::kWriteFile, 1, true, kErrDiskFull}), WriteText(s, text.substr(0, 200), 0);
  EXPECT_EQ(IoStatus, kErrDiskFull);
  Line(s, "q");
  EXPECT_EQ(TakeIoStatus(), kErrDiskFull);
  CloseStream(s);
  EXPECT_EQ(gWrites.size(), 2u);
  EXPECT_EQ(ReadWholeFile(PathOf("a.log")), text.substr(128, 72));
  for (const auto& [room, code] : {std::pair{-1, 0}, {170, kErrDiskFull}}) {
    Open(s, "b.log", OpenNew), Record({}, room), WriteText(s, text, 0);
    EXPECT_EQ(TakeIoStatus(), code);
    code == 0 ? CloseStream(s) : static_cast<void>(Os().closeHandle(s.handle));  // as a run's end
    EXPECT_EQ(ReadWholeFile(PathOf("b.log")), text.substr(0, room < 0 ? 300 : 170)) << room;
  }
}

// A stream of whole lines takes a transfer that fails part-way back to its
// last line end, also across the transfers of a line longer than its buffer.
TEST_F(Textio, FailedLineTransfersLeaveWholeLines) {
  for (const auto& [text, kept] : {std::pair{std::string(30, 'l'), 4}, {std::string(300, 'w'), 0}}) {
    TextStream s{};
    WriteFile(PathOf("b.log"), "old\r\n");
    AttachName(s, PathOf("b.log")), UseBuffer(s, buffers_[0].data(), 128), EndTransfersAtLines(s), OpenAppend(s);
    Record({}, 170);
    for (int i = 0; i < 10 && IoStatus == 0; ++i) Line(s, text);
    EXPECT_EQ(TakeIoStatus(), kErrDiskFull);
    Os().closeHandle(s.handle);
    std::string whole = "old\r\n";
    for (int i = 0; i < kept; ++i) whole += text + "\r\n";
    EXPECT_EQ(ReadWholeFile(PathOf("b.log")), whole) << text.size();
  }
}

OsHandle gStdInput = kInvalidHandle, gStdOutput = kInvalidHandle;
OsHandle Redirected(StdStream stream) { return stream == StdStream::kInput ? gStdInput : gStdOutput; }

// The standard streams open at start-up on the standard handles as they
// are (here a device and a file holding text) and close in the exit step.
// Output writes every line through, in one write up to 126 characters,
// and never cuts or empties what it is connected to.
TEST_F(Textio, StandardStreams) {
  const std::string out = PathOf("out.txt");
  WriteFile(out, "before\x1A\r\n");
  gStdInput = CreateFileByPath(kNullDevice, FileAccess::kReadWrite, FileCreation::kOpenExisting);
  gStdOutput = CreateFileByPath(out.c_str(), FileAccess::kReadWrite, FileCreation::kOpenExisting);
  ASSERT_TRUE(Os().setFilePointer(gStdOutput, 0, SeekFrom::kEnd, nullptr));
  const ExitRoutine saved = ExitStep;
  Record(), FaultTable().stdHandle = Redirected, OpenStandardStreams();
  EXPECT_EQ(std::exchange(ExitStep, saved), &CloseStandardStreams);
  EXPECT_TRUE(Input.mode == StreamMode::kReading && Output.handle == gStdOutput);
  Line(Output, std::string(126, 'o'));
  WriteText(Output, "File ", 0), WriteNumber(Output, -12, 0), WriteChar(Output, ' ', 0), WriteLineEnd(Output);
  WriteNumber(Output, INT32_MIN, 0), EndStatement(Output);
  CloseStandardStreams();
  EXPECT_EQ(gWrites, (std::vector<std::size_t>{128, 0, 11, 11, 0}));
  EXPECT_EQ(CallsOf(Service::kCloseHandle), 2U);
  EXPECT_EQ(CallsOf(Service::kOpenFolder) + CallsOf(Service::kCreateFileAt) + CallsOf(Service::kSetEndOfFile), 0U);
  EXPECT_EQ(ReadWholeFile(out), "before\x1A\r\n" + std::string(126, 'o') + "\r\nFile -12 \r\n-2147483648");
}

}  // namespace
}  // namespace quilbo::testing
