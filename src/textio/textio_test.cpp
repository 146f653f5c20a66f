// Text streams: the copy rule and the read operations, opens and the
// end-marker cut, when bytes reach the platform, failures, the console.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "errors/io_status.h"
#include "errors/termination.h"
#include "support/fault_platform.h"
#include "textio/console.h"
#include "textio/text_stream.h"

namespace quilbo::testing {
namespace {

#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";  // writes succeed and vanish
#else
constexpr const char* kNullDevice = "/dev/null";
#endif
constexpr std::uint32_t kLarge = 64 * 1024;

void Put(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every write's size, on top of the counting table.
std::vector<std::size_t> gWrites;
bool (*gForward)(OsHandle, const void*, std::uint32_t, std::uint32_t*);
int gRoom = -1;  // bytes the "disk" still takes, 50 per call; -1: all, at once

bool RecordingWrite(OsHandle file, const void* bytes, std::uint32_t size, std::uint32_t* done) {
  gWrites.push_back(size);
  if (gRoom < 0) return gForward(file, bytes, size, done);
  if (gRoom == 0 && size != 0) {
    NativePlatform().setLastError(kErrDiskFull);
    return false;
  }
  const std::uint32_t take = std::min({size, 50u, static_cast<std::uint32_t>(gRoom)});
  gRoom -= static_cast<int>(take);
  return gForward(file, bytes, take, done);
}

class Textio : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quilbo_textio_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
    TakeIoStatus();
  }
  void TearDown() override {
    RemoveFaults();
    EXPECT_EQ(TakeIoStatus(), 0) << "a failure was left pending";
    std::filesystem::remove_all(dir_);
  }
  std::string PathOf(std::string_view name) const { return (dir_ / std::string(name)).string(); }
  // Counts the platform's calls from here on and records every write.
  static void Record(const FaultPlan& plan = {}, int room = -1) {
    InstallFaults(plan);
    gWrites.clear();
    gRoom = room;
    gForward = FaultTable().writeFile;
    FaultTable().writeFile = RecordingWrite;
  }
  // Names a file of the test's folder (or a device), with a caller buffer
  // when it has one, and opens it.
  void Open(TextStream& s, std::string_view name, void (*open)(TextStream&), std::vector<char>* buffer = nullptr) {
    AttachName(s, name.starts_with(kNullDevice) ? std::string(name) : PathOf(name));
    if (buffer != nullptr) UseBuffer(s, buffer->data(), static_cast<std::uint32_t>(buffer->size()));
    open(s);
  }
  // What the copy loop of the archive engine appends to a new archive.
  std::string Copied(std::string_view source, std::vector<char>* log = nullptr, std::vector<char>* out = nullptr) {
    Put(PathOf("source.log"), source);
    TextStream from{}, to{};
    Open(from, "source.log", OpenRead, log);
    Open(to, "archive.log", OpenNew, out);
    std::string piece;
    while (!AtEnd(from)) {
      ReadPiece(from, piece);
      WriteText(to, piece, 0);
      if (AtLineEnd(from)) {
        SkipLineEnd(from);
        WriteLineEnd(to);
      }
    }
    CloseStream(from);
    CloseStream(to);
    EXPECT_EQ(TakeIoStatus(), 0);
    return Get(PathOf("archive.log"));
  }
  std::filesystem::path dir_;
};

// The rule written out plainly: the text before the first 0x1A, split at
// every LF, CRs removed, each piece ended by CR LF; an empty last piece
// writes nothing.
std::string ModelCopy(std::string_view source) {
  const std::string_view text = source.substr(0, source.find('\x1A'));
  std::string out;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t stop = std::min(text.find('\n', start), text.size());
    for (std::size_t i = start; i < stop; ++i)
      if (text[i] != '\r') out += text[i];
    out += "\r\n";
    start = stop + 1;
  }
  return out;
}

TEST_F(Textio, CopyFollowsTheLineRule) {
  for (const std::string& source : std::vector<std::string>{"a\r\nb\r\n", "a\nb", "a\rb\r\n", "a\r\r\n", "a\r", "\r", "\n",
                                   "a\r\n\r\nb", "a\x1A" "b\r\n", "\x1A" "a", "",
                                   std::string("\0\x80\xFF\n", 4)})
    EXPECT_EQ(Copied(source), ModelCopy(source)) << ::testing::PrintToString(source);
  // Random sources over the bytes that matter and the control bytes next
  // to them, CR LF pairs laid at and around buffer boundaries, long lines
  // across the 255-byte scans; through the built-in 128 bytes and through
  // caller buffers.
  std::mt19937 random(20240611);
  const char alphabet[] = {'a', '\r', '\n', '\x1A', '\0', '\xFF', '\x0C', '\x0E', '\x19', '\x1B', '\t'};
  std::vector<char> log(1000), out(1000);
  for (int n = 0; n < 1500; ++n) {
    std::string source;
    const bool plain = random() % 2 == 0;  // mostly 'a': long lines
    for (auto length = random() % 2500; source.size() < length;) {
      const auto pick = random() % (plain ? 200 : sizeof alphabet);
      source += pick < sizeof alphabet && (n % 3 != 0 || pick != 3) ? alphabet[pick] : 'a';
    }
    const std::size_t step = n % 2 == 0 ? 128 : 1000;
    for (std::size_t edge = step; edge + 2 <= source.size(); edge += step)
      source.replace(edge - 2 + random() % 4, 2, "\r\n");
    const bool large = n % 2 != 0;
    ASSERT_EQ(Copied(source, large ? &log : nullptr, large ? &out : nullptr), ModelCopy(source))
        << "source #" << n << ": " << ::testing::PrintToString(source);
  }
}

// Scripts of read operations and what they answer: P ReadPiece ("[text]",
// or "<length>" when long), L AtLineEnd and E AtEnd (T or F), S SkipLineEnd.
// Pieces end where 255-byte scans (CRs counted) say.
TEST_F(Textio, ReadOperationsAnswerAsTheRulesSay) {
  const std::string x126(126, 'x'), x127(127, 'x'), x128(128, 'x');
  const std::vector<std::vector<std::string>> rows = {
      {x127 + "\r\nb", "SPLE", "[b]TT"},          {x127 + "\rb", "SP", "[b]"},
      {x128 + "\r\nb", "SP", "[b]"},              {x126 + "\r\r\nb", "SLSP", "T[b]"},
      {x127 + "\r", "SE", "T"},                   {"a\r", "PLE", "[a]TT"},
      {"\n", "ELSE", "FTT"},                      {"a\x1A" "b\r\n", "PLE", "[a]TT"},
      {"ab\x1A" "c\n", "SEP", "T[]"},             {"\r\r\nq", "SELSP", "FT[q]"},
      {"", "ELP", "TT[]"},                        {std::string(600, 'x') + "\nb", "PLSPE", "<600>T[b]T"},
      {std::string(100, 'a') + "\r" + std::string(199, 'b') + "\nc", "PLPLSP", "<254>F<45>T[c]"},
      {std::string(255, 'a') + "\r" + std::string(300, 'b') + "\n", "PLPL", "<509>F<46>T"},
  };
  std::vector<char> buffer(1000);
  for (std::vector<char>* large : {static_cast<std::vector<char>*>(nullptr), &buffer}) {
    for (const auto& row : rows) {
      Put(PathOf("script.log"), row[0]);
      TextStream stream{};
      Open(stream, "script.log", OpenRead, large);
      std::string answers, piece;
      for (const char op : row[1]) {
        if (op == 'P') {
          ReadPiece(stream, piece);
          answers += piece.size() > 20 ? "<" + std::to_string(piece.size()) + ">" : "[" + piece + "]";
        }
        if (op == 'L' || op == 'E') answers += (op == 'L' ? AtLineEnd(stream) : AtEnd(stream)) ? 'T' : 'F';
        if (op == 'S') SkipLineEnd(stream);
      }
      EXPECT_EQ(answers, row[2]) << ::testing::PrintToString(row[0]) << (large ? " large" : "");
      CloseStream(stream);
    }
  }
}

TEST_F(Textio, WrongModesAreStoredAndPendingCodesKept) {
  enum Start { kNever, kClosed, kReading, kWriting };
  const std::vector<std::tuple<Start, void (*)(TextStream&), std::int32_t>> rows = {
      {kNever, OpenRead, kIoNotAttached}, {kNever, OpenNew, kIoNotAttached},
      {kNever, OpenAppend, kIoNotAttached}, {kNever, CloseStream, kIoNotOpen},
      {kClosed, CloseStream, kIoNotOpen}, {kClosed, WriteLineEnd, kIoNotOpenForOutput},
      {kWriting, [](TextStream& s) { EXPECT_TRUE(AtEnd(s)); }, kIoNotOpenForInput},
      {kClosed, [](TextStream& s) { EXPECT_TRUE(AtLineEnd(s)); }, kIoNotOpenForInput},
      {kWriting, [](TextStream& s) { std::string p = "x"; ReadPiece(s, p); EXPECT_EQ(p, ""); }, kIoNotOpenForInput},
      {kWriting, SkipLineEnd, kIoNotOpenForInput},
      {kReading, [](TextStream& s) { WriteText(s, "x", 0); }, kIoNotOpenForOutput},
      {kReading, [](TextStream& s) { WriteNumber(s, 1, 0); }, kIoNotOpenForOutput},
      {kReading, [](TextStream& s) { WriteChar(s, 'c', 0); }, kIoNotOpenForOutput},
      // A stream given a file it did not open is refused unless closed.
      {kReading, [](TextStream& s) { OpenNewFile(s, kInvalidHandle); }, kIoNotAttached},
  };
  Put(PathOf("in.log"), "text\n");
  for (const auto& [start, op, code] : rows) {
    for (const bool pending : {false, true}) {
      TextStream stream{};
      if (start != kNever) Open(stream, start == kWriting ? "out.log" : "in.log",
                                start == kWriting ? OpenNew : OpenRead);
      if (start == kClosed) CloseStream(stream);
      if (pending) IoStatus = 77;
      op(stream);
      // Opens and closes run whatever is pending; reads and writes don't.
      EXPECT_EQ(TakeIoStatus(), pending && code != kIoNotAttached && code != kIoNotOpen ? 77 : code)
          << static_cast<int>(start) << " " << code;
      if (stream.mode == StreamMode::kReading || stream.mode == StreamMode::kWriting) CloseStream(stream);
      EXPECT_EQ(TakeIoStatus(), 0);
    }
  }
}

TEST_F(Textio, OpensReachTheRightFilesOrNone) {
  TextStream s{};
  Open(s, "missing.log", OpenRead);
  EXPECT_EQ(TakeIoStatus(), kErrFileNotFound);
  Open(s, "no-folder/a.log", OpenNew);
  EXPECT_EQ(TakeIoStatus(), kErrPathNotFound);
  EXPECT_EQ(s.mode, StreamMode::kClosed);
  // OpenNew empties; a second open closes first, writing what was pending.
  Put(PathOf("old.log"), "old text\r\n");
  Open(s, "old.log", OpenNew);
  EXPECT_EQ(Get(PathOf("old.log")), "");
  WriteText(s, "new", 0);
  OpenRead(s);
  std::string piece;
  ReadPiece(s, piece);
  EXPECT_EQ(piece, "new");
  CloseStream(s);
  // A name ends at its first NUL; one longer than the platform takes is
  // refused, never cut to another file's name.
  AttachName(s, std::string_view("ab\0cd", 5));
  EXPECT_EQ(std::string(s.name), "ab");
  AttachName(s, ToCounted(std::string_view("cd\0ef", 5)));
  EXPECT_EQ(std::string(s.name), "cd");
  const std::string name = PathOf(std::string(kMaxNameLength + 1 - PathOf("").size(), 'f'));
  AttachName(s, name);
  OpenNew(s);
  EXPECT_EQ(TakeIoStatus(), kErrFilenameTooLong);
  std::error_code error;
  EXPECT_FALSE(std::filesystem::exists(name.substr(0, kMaxNameLength), error));
}

// A stream handed a file its caller created writes it as a new disk file
// (buffered, whatever the stream was before), and is then a closed stream
// like any other: its name opens again.
TEST_F(Textio, StreamReusedAfterOpenNewFile) {
  Put(PathOf("in.log"), "abc\n");
  for (const char* before : {"in.log", kNullDevice}) {
    TextStream s{};
    const bool reading = before[0] == 'i';
    Open(s, before, reading ? OpenRead : OpenNew);
    std::string piece;
    reading ? ReadPiece(s, piece) : WriteText(s, "x", 0);
    CloseStream(s);
    const std::string made = PathOf(reading ? "a.log" : "b.log");
    Record();
    OpenNewFile(s, Os().createFile(made.c_str(), FileAccess::kReadWrite, FileCreation::kCreateNew));
    WriteText(s, "one", 0);
    WriteLineEnd(s);
    EXPECT_EQ(gWrites.size(), 0u) << before;
    CloseStream(s);
    EXPECT_EQ(Get(made), "one\r\n") << before;
    reading ? OpenRead(s) : OpenNew(s);
    EXPECT_EQ(s.mode, reading ? StreamMode::kReading : StreamMode::kWriting);
    CloseStream(s);
    RemoveFaults();
  }
}

// The first 0x1A among an archive's last 128 bytes is cut before appending,
// whatever the size of the buffer.
TEST_F(Textio, AppendCutsAtTheFirstMarkerInTheLast128Bytes) {
  constexpr std::size_t kBig = 100000;
  const std::vector<std::tuple<std::size_t, std::vector<std::size_t>, std::size_t>> rows = {
      {0, {}, 0},         {5, {}, 5},          {300, {250, 260}, 250}, {300, {0}, 300},
      {300, {172}, 172},  {300, {171}, 300},   {5, {2}, 2},            {4, {3}, 3},
      {kBig, {kBig - 128}, kBig - 128},        {kBig, {kBig - 129}, kBig},
      {kBig, {kBig - 5000}, kBig},             {kBig, {1000, kBig - 1}, kBig - 1}};
  std::vector<char> buffer(kLarge);
  for (std::vector<char>* large : {static_cast<std::vector<char>*>(nullptr), &buffer}) {
    for (const auto& [size, markers, kept] : rows) {
      std::string before(size, 't');
      for (const std::size_t at : markers) before[at] = '\x1A';
      Put(PathOf("archive.log"), before);
      TextStream archive{};
      Open(archive, "archive.log", OpenAppend, large);
      WriteText(archive, "Z", 0);
      CloseStream(archive);
      EXPECT_TRUE(Get(PathOf("archive.log")) == before.substr(0, kept) + "Z") << size << " " << kept;
    }
  }
}

// The cut is best effort, but writing never starts inside the old text.
TEST_F(Textio, AppendSurvivesFailuresOfTheCut) {
  const std::string old = "old\x1Axy";
  const std::vector<std::tuple<Service, std::uint64_t, std::int32_t, std::string>> rows = {
      {Service::kSetEndOfFile, 1, 0, "oldZxy"},  // writing starts at the marker
      {Service::kReadFile, 1, 0, old + "Z"},
      {Service::kSetFilePointer, 2, 0, old + "Z"},
      {Service::kSetFilePointer, 1, 87, old},  // the end cannot be reached
  };
  for (const auto& [service, nth, code, after] : rows) {
    Put(PathOf("archive.log"), old);
    TextStream archive{};
    InstallFaults({0, service, nth, true, 87});
    Open(archive, "archive.log", OpenAppend);
    EXPECT_EQ(Counts().injected, 1U);
    RemoveFaults();
    EXPECT_EQ(TakeIoStatus(), code);
    WriteText(archive, "Z", 0);
    if (code == 0) CloseStream(archive);
    EXPECT_EQ(TakeIoStatus(), code == 0 ? 0 : kIoNotOpenForOutput);
    EXPECT_EQ(Get(PathOf("archive.log")), after);
  }
}

// A disk file is written when its buffer fills and at the close; a device
// at the end of every statement, 128 bytes at most, whatever buffer it was
// offered; no end-marker cut is tried on a device.
TEST_F(Textio, WritesFollowTheKindOfFile) {
  std::vector<char> buffer(kLarge);
  const std::string ten(10, 't'), long300(300, 'w');
  const std::vector<std::tuple<const char*, void (*)(TextStream&), bool, std::string, int,
                               std::vector<std::size_t>>> rows = {
      {"a.log", OpenNew, false, ten, 10, {120}},
      {"a.log", OpenNew, false, ten, 13, {128, 28}},
      {"a.log", OpenAppend, false, ten, 13, {128, 28}},
      {"a.log", OpenNew, true, long300, 1, {302}},
      {"a.log", OpenAppend, true, long300, 1, {302}},
      {kNullDevice, OpenNew, false, ten, 2, {12, 12, 0}},
      {kNullDevice, OpenAppend, false, ten, 2, {12, 12, 0}},
      {kNullDevice, OpenNew, true, long300, 1, {128, 128, 46, 0}},
  };
  for (const auto& [name, open, large, text, lines, writes] : rows) {
    Put(PathOf("a.log"), "");
    TextStream s{};
    Record();
    Open(s, name, open, large ? &buffer : nullptr);
    const bool device = std::string_view(name) == kNullDevice;
    EXPECT_TRUE(open != OpenAppend || (CallsOf(Service::kSetFilePointer) > 0) != device);
    for (int i = 0; i < lines; ++i) {
      WriteText(s, text, 0);
      WriteLineEnd(s);
    }
    CloseStream(s);
    EXPECT_EQ(gWrites, writes) << name << " " << lines;
    EXPECT_EQ(Get(PathOf("a.log")).size(), device ? 0 : static_cast<std::size_t>(lines) * (text.size() + 2));
    RemoveFaults();
  }
  // With transfers ending at lines, a full buffer goes out up to its last
  // LF (all of it when it holds none): a run that dies leaves whole lines.
  TextStream s{};
  Record();
  AttachName(s, PathOf("lines.log"));
  EndTransfersAtLines(s);
  OpenNew(s);
  for (const std::size_t length : {50u, 50u, 50u, 50u, 200u, 50u}) {
    WriteText(s, std::string(length, 'l'), 0);
    WriteLineEnd(s);
  }
  EXPECT_EQ(gWrites, (std::vector<std::size_t>{104, 104, 128}));
  CloseStream(s);
  EXPECT_EQ(Get(PathOf("lines.log")).size(), 5 * 52u + 202);
}

// Reading through a caller buffer: one call per buffer, and the empty one
// that finds the end unless a short read ends the text.
TEST_F(Textio, ReadsThroughACallerBuffer) {
  std::vector<char> buffer(kLarge);
  Put(PathOf("in.log"), std::string(150000, 'r') + "\n");
  for (const bool shortEnds : {false, true}) {
    TextStream log{};
    Record();
    AttachName(log, PathOf("in.log"));
    UseBuffer(log, buffer.data(), kLarge);
    if (shortEnds) EndAtShortRead(log);
    OpenRead(log);
    std::string piece;
    ReadPiece(log, piece);
    SkipLineEnd(log);
    EXPECT_TRUE(AtEnd(log));
    EXPECT_EQ(piece.size(), 150000U);
    EXPECT_EQ(CallsOf(Service::kReadFile), shortEnds ? 3U : 4U);
    CloseStream(log);
    RemoveFaults();
  }
  TextStream log{};
  AttachName(log, PathOf("in.log"));
  UseBuffer(log, buffer.data(), kTextBufferSize - 1);  // too small: not taken
  EXPECT_EQ(log.buffer, log.builtIn);
}

// A failed transfer gives its bytes up (never written twice) and keeps its
// error: nothing more is written while it is pending. A write that takes
// only part of the bytes is carried on, or its failure reported, and what
// the system took stays.
TEST_F(Textio, FailedAndShortWrites) {
  std::string text;
  for (std::size_t i = 0; i < 3 * kLarge; ++i) text += static_cast<char>('a' + i % 23);
  TextStream s{};
  Open(s, "a.log", OpenNew);
  Record({0, Service::kWriteFile, 1, true, kErrDiskFull});
  WriteText(s, text.substr(0, 200), 0);
  EXPECT_EQ(IoStatus, kErrDiskFull);
  WriteText(s, "q", 0);
  WriteLineEnd(s);
  EXPECT_EQ(TakeIoStatus(), kErrDiskFull);
  CloseStream(s);
  EXPECT_EQ(gWrites.size(), 2u);
  EXPECT_EQ(Get(PathOf("a.log")), text.substr(128, 72));
  std::vector<char> buffer(kLarge);
  const int large = static_cast<int>(kLarge);
  for (const auto& [room, code, kept] : {std::tuple{-1, 0, 300}, {170, kErrDiskFull, 170},
                                         {large, kErrDiskFull, large}, {large + 4464, kErrDiskFull, large + 4464}}) {
    Open(s, "b.log", OpenNew, room >= large ? &buffer : nullptr);
    Record({}, room);
    WriteText(s, std::string_view(text).substr(0, room >= large ? text.size() : 300), 0);
    EXPECT_EQ(TakeIoStatus(), code);
    code == 0 ? CloseStream(s) : static_cast<void>(Os().closeHandle(s.handle));  // as a run's end
    EXPECT_TRUE(Get(PathOf("b.log")) == text.substr(0, static_cast<std::size_t>(kept))) << room;
  }
  // A reader whose pipe broke has reached the end; other failures of reads
  // and closes are kept.
  Put(PathOf("in.log"), "abc\n");
  for (const auto& [service, error, stored] : {std::tuple{Service::kReadFile, kErrBrokenPipe, 0},
                                               {Service::kReadFile, 5, 5}, {Service::kCloseHandle, 6, 6}}) {
    Open(s, "in.log", OpenRead);
    Record({0, service, 1, true, error});
    EXPECT_TRUE(service != Service::kReadFile || AtEnd(s));
    CloseStream(s);
    EXPECT_EQ(TakeIoStatus(), stored);
    EXPECT_EQ(s.mode, StreamMode::kClosed);
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
  Put(out, "before\x1A\r\n");
  gStdInput = Os().createFile(kNullDevice, FileAccess::kReadWrite, FileCreation::kOpenExisting);
  gStdOutput = Os().createFile(out.c_str(), FileAccess::kReadWrite, FileCreation::kOpenExisting);
  ASSERT_TRUE(Os().setFilePointer(gStdOutput, 0, SeekFrom::kEnd, nullptr));
  Record();
  FaultTable().stdHandle = Redirected;
  const ExitRoutine saved = ExitStep;
  OpenStandardStreams();
  EXPECT_EQ(ExitStep, &CloseStandardStreams);
  ExitStep = saved;
  EXPECT_EQ(Input.mode, StreamMode::kReading);
  EXPECT_EQ(Output.handle, gStdOutput);
  std::string expected = "before\x1A\r\n";
  for (const auto& [length, writes] : std::vector<std::pair<std::size_t, std::vector<std::size_t>>>{
           {0, {2}}, {126, {128, 0}}, {127, {128, 1}}, {300, {128, 128, 46}}}) {
    gWrites.clear();
    const std::string line(length, 'o');
    WriteText(Output, line, 0);
    WriteLineEnd(Output);
    EXPECT_EQ(gWrites, writes) << length;
    expected += line + "\r\n";
  }
  gWrites.clear();
  WriteText(Output, "File ", 0);  // a line of several items is one write too
  WriteNumber(Output, -12, 0);
  WriteChar(Output, ':', 2);
  WriteLineEnd(Output);
  WriteNumber(Output, 2, 0);
  EndStatement(Output);
  CloseStandardStreams();
  EXPECT_EQ(gWrites, (std::vector<std::size_t>{12, 1, 0}));
  EXPECT_EQ(CallsOf(Service::kCloseHandle), 2U);
  EXPECT_EQ(CallsOf(Service::kCreateFile) + CallsOf(Service::kSetEndOfFile), 0U);
  EXPECT_EQ(Output.mode, StreamMode::kClosed);
  EXPECT_EQ(Get(out), expected + "File -12 :\r\n2");
}

TEST_F(Textio, ItemWritersPadToTheirWidth) {
  const std::vector<std::pair<void (*)(TextStream&), std::string>> rows = {
      {[](TextStream& s) { WriteNumber(s, 0, 0); }, "0"},
      {[](TextStream& s) { WriteNumber(s, 2147483647, 0); }, "2147483647"},
      {[](TextStream& s) { WriteNumber(s, INT32_MIN, 12); }, " -2147483648"},
      {[](TextStream& s) { WriteNumber(s, 42, 5); }, "   42"},
      {[](TextStream& s) { WriteNumber(s, 12345, 2); }, "12345"},
      {[](TextStream& s) { WriteNumber(s, 7, -5); }, "7"},
      {[](TextStream& s) { WriteChar(s, '\xFF', 2); }, " \xFF"},
      {[](TextStream& s) { WriteText(s, "abcdef", 5); }, "abcdef"},
      {[](TextStream& s) { WriteText(s, ToCounted("x"), 300); }, std::string(299, ' ') + "x"},
  };
  for (const auto& [write, bytes] : rows) {
    TextStream s{};
    Open(s, "items.txt", OpenNew);
    write(s);
    CloseStream(s);
    EXPECT_EQ(Get(PathOf("items.txt")), bytes);
  }
}

}  // namespace
}  // namespace quilbo::testing
