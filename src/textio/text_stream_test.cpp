// Opening, naming, the end-marker cut, failures and when bytes are written.
#include <functional>
#include <string>
#include <vector>

#include "support/fault_platform.h"
#include "textio/console.h"
#include "support/textio_test_util.h"

namespace quilbo::testing {
namespace {

using TextioStream = TextioTest;

enum class Start { kNeverAttached, kClosed, kReading, kWriting };

TEST_F(TextioStream, ModeErrorsAreStoredAndPendingCodesKept) {
  struct Row {
    const char* what;
    Start start;
    std::function<void(TextStream&)> op;
    std::int32_t code;
  };
  std::string piece = "stale";
  const std::vector<Row> rows = {
      {"OpenRead unattached", Start::kNeverAttached, OpenRead, kIoNotAttached},
      {"OpenNew unattached", Start::kNeverAttached, OpenNew, kIoNotAttached},
      {"OpenAppend unattached", Start::kNeverAttached, OpenAppend, kIoNotAttached},
      {"close unattached", Start::kNeverAttached, CloseStream, kIoNotOpen},
      {"second close", Start::kClosed, CloseStream, kIoNotOpen},
      {"ReadPiece writing", Start::kWriting,
       [&](TextStream& s) { ReadPiece(s, piece); EXPECT_EQ(piece, ""); },
       kIoNotOpenForInput},
      {"AtEnd writing", Start::kWriting,
       [](TextStream& s) { EXPECT_TRUE(AtEnd(s)); }, kIoNotOpenForInput},
      {"AtLineEnd closed", Start::kClosed,
       [](TextStream& s) { EXPECT_TRUE(AtLineEnd(s)); }, kIoNotOpenForInput},
      {"SkipLineEnd writing", Start::kWriting, SkipLineEnd, kIoNotOpenForInput},
      {"WriteText reading", Start::kReading,
       [](TextStream& s) { WriteText(s, "x", 0); }, kIoNotOpenForOutput},
      {"WriteLineEnd closed", Start::kClosed, WriteLineEnd, kIoNotOpenForOutput},
      {"WriteNumber reading", Start::kReading,
       [](TextStream& s) { WriteNumber(s, 1, 0); }, kIoNotOpenForOutput},
      {"WriteChar reading", Start::kReading,
       [](TextStream& s) { WriteChar(s, 'c', 0); }, kIoNotOpenForOutput},
  };
  WriteFileBytes(PathOf("in.log"), "text\n");
  for (const Row& row : rows) {
    for (const bool pending : {false, true}) {
      SCOPED_TRACE(std::string(row.what) + (pending ? ", code pending" : ""));
      TextStream stream{};
      if (row.start != Start::kNeverAttached) {
        AttachName(stream, PathOf(row.start == Start::kWriting ? "out.log" : "in.log"));
        if (row.start == Start::kReading) OpenRead(stream);
        if (row.start == Start::kWriting) OpenNew(stream);
      }
      ASSERT_EQ(IoStatus, 0);
      if (pending) IoStatus = 77;
      row.op(stream);
      // Opens and closes run whatever is pending; reads and writes don't.
      const bool runsAnyway = row.code == kIoNotAttached || row.code == kIoNotOpen;
      EXPECT_EQ(TakeIoStatus(), pending && !runsAnyway ? 77 : row.code);
      if (stream.mode == StreamMode::kReading || stream.mode == StreamMode::kWriting)
        CloseStream(stream);
      EXPECT_EQ(TakeIoStatus(), 0);
    }
  }
}

TEST_F(TextioStream, OpensReachTheRightFiles) {
  TextStream stream{};
  AttachName(stream, PathOf("missing.log"));
  OpenRead(stream);
  EXPECT_EQ(TakeIoStatus(), kErrFileNotFound);
  EXPECT_EQ(stream.mode, StreamMode::kClosed);

  AttachName(stream, PathOf("no-folder/a.log"));
  OpenNew(stream);
  EXPECT_EQ(TakeIoStatus(), kErrPathNotFound);
  EXPECT_FALSE(std::filesystem::exists(PathOf("no-folder")));

  // OpenNew empties; a second open closes first, writing what was pending.
  WriteFileBytes(PathOf("old.log"), "old text\r\n");
  AttachName(stream, PathOf("old.log"));
  OpenNew(stream);
  EXPECT_EQ(ReadFileBytes(PathOf("old.log")), "");
  WriteText(stream, "new", 0);
  OpenRead(stream);
  std::string piece;
  ReadPiece(stream, piece);
  EXPECT_EQ(piece, "new");
  CloseStream(stream);
  EXPECT_EQ(TakeIoStatus(), 0);
}

TEST_F(TextioStream, NamesAreCutAndTooLongNamesRefused) {
  TextStream stream{};
  const std::string exact(kMaxNameLength, 'n');
  AttachName(stream, exact);
  EXPECT_EQ(std::string(stream.name), exact);
  EXPECT_FALSE(stream.nameTooLong);

  AttachName(stream, std::string_view("ab\0cd", 5));
  EXPECT_EQ(std::string(stream.name), "ab");
  EXPECT_EQ(stream.mode, StreamMode::kClosed);
  EXPECT_EQ(stream.buffer, stream.builtIn);
  EXPECT_EQ(stream.bufferSize, kTextBufferSize);

  const CountedString counted = ToCounted(std::string_view("cd\0ef", 5));
  AttachName(stream, counted);
  EXPECT_EQ(std::string(stream.name), "cd");

  // A name one longer than the field: the open must not create a file
  // under the cut name.
  std::string base = PathOf("");
  std::string name = base + std::string(kMaxNameLength + 1 - base.size(), 'f');
  AttachName(stream, name);
  EXPECT_TRUE(stream.nameTooLong);
  EXPECT_EQ(std::string(stream.name), name.substr(0, kMaxNameLength));
  OpenNew(stream);
  EXPECT_EQ(TakeIoStatus(), kErrFilenameTooLong);
  EXPECT_EQ(stream.mode, StreamMode::kClosed);
  std::error_code error;
  EXPECT_FALSE(std::filesystem::exists(name.substr(0, kMaxNameLength), error));
}

#ifndef _WIN32
// Linux takes paths far beyond Windows' 259 bytes, and so do streams.
TEST_F(TextioStream, PathsBeyond259BytesWorkOnLinux) {
  std::filesystem::path folder = PathOf(std::string(200, 'a'));
  folder /= std::string(200, 'b');
  std::filesystem::create_directories(folder);
  const std::string name = (folder / "c.log").string();
  ASSERT_GT(name.size(), 400u);
  TextStream stream{};
  AttachName(stream, name);
  EXPECT_FALSE(stream.nameTooLong);
  OpenNew(stream);
  WriteText(stream, "long", 0);
  WriteLineEnd(stream);
  CloseStream(stream);
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(ReadFileBytes(name), "long\r\n");
}
#endif

TEST_F(TextioStream, AppendCutsAtTheFirstMarkerInTheLast128Bytes) {
  struct Row {
    const char* what;
    std::string before;
    std::string after;  // once "Z" is appended
  };
  auto with = [](std::size_t size, std::vector<std::size_t> markers) {
    std::string text(size, 't');
    for (const std::size_t at : markers) text[at] = '\x1A';
    return text;
  };
  const std::vector<Row> rows = {
      {"empty file", "", "Z"},
      {"no marker", "abc\r\n", "abc\r\nZ"},
      {"two markers at the end", with(300, {250, 260}), with(300, {}).substr(0, 250) + "Z"},
      {"marker at offset 0 of 300", with(300, {0}), with(300, {0}) + "Z"},
      {"marker first searched byte", with(300, {172}), with(172, {}) + "Z"},
      {"marker just before the window", with(300, {171}), with(300, {171}) + "Z"},
      {"short file", "ab\x1A" "cd", "abZ"},
      {"marker last byte", "abc\x1A", "abcZ"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFileBytes(PathOf("archive.log"), row.before);
    TextStream archive{};
    AttachName(archive, PathOf("archive.log"));
    OpenAppend(archive);
    EXPECT_EQ(archive.mode, StreamMode::kWriting);
    WriteText(archive, "Z", 0);
    CloseStream(archive);
    EXPECT_EQ(TakeIoStatus(), 0);
    EXPECT_EQ(ReadFileBytes(PathOf("archive.log")), row.after);
  }
}

// A large buffer changes how much is read at once, not where the marker
// is looked for: the last 128 bytes only.
TEST_F(TextioStream, AppendCutSearchesTheLast128BytesWhateverTheBuffer) {
  constexpr std::size_t kSize = 100000;
  struct Row {
    const char* what;
    std::vector<std::size_t> markers;
    std::size_t kept;
  };
  const std::vector<Row> rows = {
      {"first searched byte", {kSize - 128}, kSize - 128},
      {"just before the window", {kSize - 129}, kSize},
      {"inside a 64 KiB window only", {kSize - 5000}, kSize},
      {"two in the window", {kSize - 100, kSize - 1}, kSize - 100},
      {"last byte, another far before", {1000, kSize - 1}, kSize - 1},
  };
  std::vector<char> buffer(64 * 1024);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string before(kSize, 't');
    for (const std::size_t at : row.markers) before[at] = '\x1A';
    WriteFileBytes(PathOf("archive.log"), before);
    TextStream archive{};
    AttachName(archive, PathOf("archive.log"));
    UseBuffer(archive, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    OpenAppend(archive);
    WriteText(archive, "Z", 0);
    CloseStream(archive);
    EXPECT_EQ(TakeIoStatus(), 0);
    EXPECT_TRUE(ReadFileBytes(PathOf("archive.log")) == before.substr(0, row.kept) + "Z");
  }
}

// A caller buffer cuts the transfers of a disk file to one per buffer; a
// device opened for writing keeps its 128 bytes and its write-through.
TEST_F(TextioStream, LargeBuffersChangeOnlyTheNumberOfTransfers) {
  std::vector<char> buffer(64 * 1024);
  const auto size = static_cast<std::uint32_t>(buffer.size());
  const std::string line(300, 'w');
  struct Row {
    const char* what;
    std::string name;
    void (*open)(TextStream&);
    std::vector<std::size_t> writesOfALine;  // sizes before the close
  };
  const std::vector<Row> rows = {
      {"disk", PathOf("a.log"), OpenNew, {}},
      {"appended disk", PathOf("a.log"), OpenAppend, {}},
      {"device", kNullDevice, OpenNew, {128, 128, 46}},
      {"appended device", kNullDevice, OpenAppend, {128, 128, 46}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFileBytes(PathOf("a.log"), "");
    TextStream stream{};
    AttachName(stream, row.name);
    UseBuffer(stream, buffer.data(), size);
    ScopedFaults faults(FaultPlan{});
    std::vector<std::size_t> writes;
    static std::vector<std::size_t>* record;
    static bool (*forward)(OsHandle, const void*, std::uint32_t, std::uint32_t*);
    record = &writes;
    forward = FaultTable().writeFile;
    FaultTable().writeFile = [](OsHandle file, const void* bytes, std::uint32_t count,
                                std::uint32_t* done) {
      record->push_back(count);
      return forward(file, bytes, count, done);
    };
    row.open(stream);
    WriteText(stream, line, 0);
    WriteLineEnd(stream);
    EXPECT_EQ(writes, row.writesOfALine);
    CloseStream(stream);
    EXPECT_EQ(TakeIoStatus(), 0);
    if (row.name != kNullDevice) {
      EXPECT_EQ(writes, std::vector<std::size_t>{302});
      EXPECT_EQ(ReadFileBytes(PathOf("a.log")), line + "\r\n");
    }
  }

  // Reading: one call per 64 KiB, and the empty one that finds the end.
  WriteFileBytes(PathOf("in.log"), std::string(150000, 'r') + "\n");
  TextStream log{};
  AttachName(log, PathOf("in.log"));
  UseBuffer(log, buffer.data(), size);
  ScopedFaults faults(FaultPlan{});
  OpenRead(log);
  std::string piece;
  ReadPiece(log, piece);
  SkipLineEnd(log);
  EXPECT_TRUE(AtEnd(log));
  EXPECT_EQ(piece.size(), 150000U);
  EXPECT_EQ(CallsOf(Service::kReadFile), 4U);
  CloseStream(log);
  EXPECT_EQ(TakeIoStatus(), 0);

  // Too small a buffer is not taken.
  AttachName(log, PathOf("in.log"));
  UseBuffer(log, buffer.data(), kTextBufferSize - 1);
  EXPECT_EQ(log.buffer, log.builtIn);
  EXPECT_EQ(log.bufferSize, kTextBufferSize);
}

TEST_F(TextioStream, AppendCutUsesPositionsBeyond4GiB) {
  const std::string path = PathOf("huge.log");
  constexpr std::uintmax_t kSize = (5ULL << 30) + 77;
  try {
    WriteFileBytes(path, "");
    std::filesystem::resize_file(path, kSize);  // sparse: costs no space
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(kSize - 5));
    out.write("\x1Axxxx", 5);
    if (!out) GTEST_SKIP() << "no large files here";
  } catch (const std::exception& error) {
    GTEST_SKIP() << "no large files here: " << error.what();
  }
  TextStream archive{};
  AttachName(archive, path);
  OpenAppend(archive);
  WriteText(archive, "Z", 0);
  CloseStream(archive);
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(std::filesystem::file_size(path), kSize - 5 + 1);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(kSize - 6));
  char tail[3] = {};
  in.read(tail, 3);
  EXPECT_EQ(std::string(tail, static_cast<std::size_t>(in.gcount())), std::string("\0Z", 2));
}

// The cut is best effort, but writing never starts inside the old text.
TEST_F(TextioStream, AppendSurvivesFailuresOfTheCut) {
  struct Row {
    const char* what;
    Service service;
    std::uint64_t nth;
    std::int32_t openCode;
    std::string after;
  };
  const std::string old = "old\x1Axy";
  const std::vector<Row> rows = {
      {"cut fails: writing starts at the marker", Service::kSetEndOfFile, 1, 0, "oldZxy"},
      {"read fails: no cut", Service::kReadFile, 1, 0, old + "Z"},
      {"move to the window fails: no cut", Service::kSetFilePointer, 2, 0, old + "Z"},
      {"end not reachable: the open fails", Service::kSetFilePointer, 1, 87, old},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFileBytes(PathOf("archive.log"), old);
    TextStream archive{};
    AttachName(archive, PathOf("archive.log"));
    {
      FaultPlan plan;
      plan.failService = row.service;
      plan.fromNth = row.nth;
      plan.failOnce = true;
      plan.error = 87;
      ScopedFaults faults(plan);
      OpenAppend(archive);
      EXPECT_EQ(Counts().injected, 1U);
    }
    EXPECT_EQ(TakeIoStatus(), row.openCode);
    if (row.openCode == 0) {
      WriteText(archive, "Z", 0);
      CloseStream(archive);
    } else {
      EXPECT_EQ(archive.mode, StreamMode::kClosed);
    }
    EXPECT_EQ(TakeIoStatus(), 0);
    EXPECT_EQ(ReadFileBytes(PathOf("archive.log")), row.after);
  }
}

TEST_F(TextioStream, FailedTransferDropsTheBufferAndKeepsTheError) {
  TextStream archive{};
  AttachName(archive, PathOf("archive.log"));
  OpenNew(archive);
  std::string text;
  for (int i = 0; i < 200; ++i) text += static_cast<char>('A' + i % 26);
  {
    FaultPlan plan;
    plan.failService = Service::kWriteFile;
    plan.failOnce = true;
    plan.error = kErrDiskFull;
    ScopedFaults faults(plan);
    WriteText(archive, text, 0);
    EXPECT_EQ(IoStatus, kErrDiskFull);
    // Nothing more is written while the failure is pending.
    WriteText(archive, std::string(300, 'q'), 0);
    WriteLineEnd(archive);
    EXPECT_EQ(CallsOf(Service::kWriteFile), 1U);
    EXPECT_EQ(TakeIoStatus(), kErrDiskFull);
  }
  CloseStream(archive);
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(ReadFileBytes(PathOf("archive.log")), text.substr(128));
}

// A platform write may take only part of the bytes (a POSIX disk filling
// up); the rest must be written or the failure reported.
bool (*gForward)(OsHandle, const void*, std::uint32_t, std::uint32_t*);
int gRoomLeft = 0;  // bytes the "disk" still takes; -1: no limit
bool ShortWrite(OsHandle file, const void* bytes, std::uint32_t size,
                std::uint32_t* done) {
  std::uint32_t take = size < 50 ? size : 50;
  if (gRoomLeft >= 0) {
    if (gRoomLeft == 0 && size != 0) {
      NativePlatform().setLastError(kErrDiskFull);
      *done = 0;
      return false;
    }
    if (take > static_cast<std::uint32_t>(gRoomLeft)) take = static_cast<std::uint32_t>(gRoomLeft);
    gRoomLeft -= static_cast<int>(take);
  }
  return gForward(file, bytes, take, done);
}

TEST_F(TextioStream, ShortWritesAreCarriedOnOrReported) {
  struct Row {
    int room;
    std::int32_t code;
    std::size_t kept;
  };
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 26);
  for (const Row& row : {Row{-1, 0, 300}, Row{170, kErrDiskFull, 170}}) {
    SCOPED_TRACE(row.room);
    TextStream archive{};
    AttachName(archive, PathOf("archive.log"));
    OpenNew(archive);
    ScopedFaults faults(FaultPlan{});
    gForward = FaultTable().writeFile;
    FaultTable().writeFile = ShortWrite;
    gRoomLeft = row.room;
    WriteText(archive, text, 0);
    CloseStream(archive);
    EXPECT_EQ(TakeIoStatus(), row.code);
    EXPECT_EQ(ReadFileBytes(PathOf("archive.log")), text.substr(0, row.kept));
  }
}

// A disk filling up during a large transfer: the archive keeps every byte
// the system took, up to the failure; the rest of the buffer is lost, and
// the run ends there without closing the archive.
TEST_F(TextioStream, FailedLargeTransferKeepsWhatWasWritten) {
  constexpr std::uint32_t kLarge = 64 * 1024;
  std::vector<char> buffer(kLarge);
  std::string text;
  for (std::size_t i = 0; i < 3 * kLarge; ++i) text += static_cast<char>('a' + i % 23);
  for (const int room : {static_cast<int>(kLarge), static_cast<int>(kLarge) + 4464}) {
    SCOPED_TRACE(room);
    TextStream archive{};
    AttachName(archive, PathOf("archive.log"));
    UseBuffer(archive, buffer.data(), kLarge);
    OpenNew(archive);
    {
      ScopedFaults faults(FaultPlan{});
      gForward = FaultTable().writeFile;
      FaultTable().writeFile = ShortWrite;
      gRoomLeft = room;
      WriteText(archive, text, 0);
      EXPECT_EQ(TakeIoStatus(), kErrDiskFull);
    }
    Os().closeHandle(archive.handle);  // as the end of the run does
    EXPECT_TRUE(ReadFileBytes(PathOf("archive.log")) ==
                text.substr(0, static_cast<std::size_t>(room)));
  }
}

TEST_F(TextioStream, FailuresOfReadsAndClosesGoToIoStatus) {
  struct Row {
    const char* what;
    Service service;
    std::int32_t error;
    std::int32_t stored;
  };
  const std::vector<Row> rows = {
      {"broken pipe reads as the end", Service::kReadFile, kErrBrokenPipe, 0},
      {"other read errors are kept", Service::kReadFile, kErrAccessDenied, kErrAccessDenied},
      {"close fails", Service::kCloseHandle, kErrInvalidHandle, kErrInvalidHandle},
  };
  WriteFileBytes(PathOf("in.log"), "abc\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TextStream stream{};
    AttachName(stream, PathOf("in.log"));
    OpenRead(stream);
    FaultPlan plan;
    plan.failService = row.service;
    plan.failOnce = true;
    plan.error = row.error;
    ScopedFaults faults(plan);
    if (row.service == Service::kReadFile) {
      EXPECT_TRUE(AtEnd(stream));
      EXPECT_EQ(TakeIoStatus(), row.stored);
    }
    CloseStream(stream);
    EXPECT_EQ(stream.mode, StreamMode::kClosed);
    EXPECT_EQ(TakeIoStatus(), row.service == Service::kCloseHandle ? row.stored : 0);
  }
}

// A disk file is written when its buffer fills and at the close; a device
// at the end of every statement.
TEST_F(TextioStream, WritesFollowTheKindOfFile) {
  struct Row {
    const char* what;
    std::string name;
    void (*open)(TextStream&);
    int lines;
    std::uint64_t writesBeforeClose;
  };
  const std::vector<Row> rows = {
      {"disk, 120 bytes", PathOf("a.log"), OpenNew, 10, 0},
      {"disk, 156 bytes", PathOf("a.log"), OpenNew, 13, 1},
      {"appended disk", PathOf("a.log"), OpenAppend, 13, 1},
      {"device", kNullDevice, OpenNew, 10, 10},
      {"appended device", kNullDevice, OpenAppend, 13, 13},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFileBytes(PathOf("a.log"), "");
    TextStream stream{};
    AttachName(stream, row.name);
    ScopedFaults faults(FaultPlan{});
    row.open(stream);
    // No end-marker cut is tried on a device.
    if (row.name == kNullDevice) {
      EXPECT_EQ(CallsOf(Service::kSetFilePointer), 0U);
    }
    for (int i = 0; i < row.lines; ++i) {
      WriteText(stream, "0123456789", 0);
      WriteLineEnd(stream);
    }
    EXPECT_EQ(CallsOf(Service::kWriteFile), row.writesBeforeClose);
    CloseStream(stream);
    EXPECT_EQ(CallsOf(Service::kWriteFile), row.writesBeforeClose + 1);
    EXPECT_EQ(TakeIoStatus(), 0);
    if (row.name != kNullDevice) {
      EXPECT_EQ(ReadFileBytes(PathOf("a.log")).size(),
                static_cast<std::size_t>(row.lines) * 12);
    }
  }
}

}  // namespace
}  // namespace quilbo::testing
