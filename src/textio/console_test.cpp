// The standard streams and the item writers.
#include <string>
#include <vector>

#include "errors/termination.h"
#include "support/fault_platform.h"
#include "textio/console.h"
#include "support/textio_test_util.h"

namespace quilbo::testing {
namespace {

// Standard handles redirected to handles the test opened, and every write
// recorded on top of the counting wrapper.
OsHandle gStdInput = kInvalidHandle;
OsHandle gStdOutput = kInvalidHandle;
std::vector<std::string> gWrites;
bool (*gCountedWrite)(OsHandle, const void*, std::uint32_t, std::uint32_t*);

OsHandle RedirectedStdHandle(StdStream stream) {
  return stream == StdStream::kInput ? gStdInput : gStdOutput;
}

bool RecordingWrite(OsHandle file, const void* bytes, std::uint32_t size,
                    std::uint32_t* done) {
  gWrites.emplace_back(static_cast<const char*>(bytes), size);
  return gCountedWrite(file, bytes, size, done);
}

class TextioConsole : public TextioTest {
 protected:
  void Redirect(const FaultPlan& plan, OsHandle output,
                OsHandle input = kInvalidHandle) {
    InstallFaults(plan);
    gStdOutput = output;
    gStdInput = input;
    gWrites.clear();
    gCountedWrite = FaultTable().writeFile;
    FaultTable().writeFile = RecordingWrite;
    FaultTable().stdHandle = RedirectedStdHandle;
  }
  void TearDown() override {
    RemoveFaults();
    TextioTest::TearDown();
  }
  static OsHandle OpenDevice() {
    return Os().createFile(kNullDevice, FileAccess::kReadWrite,
                           FileCreation::kOpenExisting);
  }
};

TEST_F(TextioConsole, EachLineReachesAPipeInOneWriteUpTo126) {
  struct Row {
    std::size_t length;
    std::vector<std::size_t> writes;
  };
  const std::vector<Row> rows = {
      {0, {2}}, {1, {3}}, {126, {128, 0}}, {127, {128, 1}}, {300, {128, 128, 46}},
  };
  const OsHandle device = OpenDevice();
  ASSERT_NE(device, kInvalidHandle);
  Redirect(FaultPlan{}, device);
  TextStream console{};
  AttachName(console, std::string_view{});
  OpenNew(console);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.length);
    gWrites.clear();
    const std::uint64_t before = CallsOf(Service::kWriteFile);
    std::string line;
    for (std::size_t i = 0; i < row.length; ++i) line += static_cast<char>('a' + i % 26);
    WriteText(console, line, 0);
    WriteLineEnd(console);
    std::vector<std::size_t> sizes;
    std::string joined;
    for (const std::string& write : gWrites) {
      sizes.push_back(write.size());
      joined += write;
    }
    EXPECT_EQ(sizes, row.writes);
    EXPECT_EQ(CallsOf(Service::kWriteFile) - before, row.writes.size());
    EXPECT_EQ(joined, line + "\r\n");
  }
  // A line of several items is still one write.
  gWrites.clear();
  WriteText(console, "File ", 0);
  WriteNumber(console, -12, 0);
  WriteChar(console, ':', 2);
  WriteLineEnd(console);
  EXPECT_EQ(gWrites, std::vector<std::string>{"File -12 :\r\n"});
  CloseStream(console);
  EXPECT_EQ(TakeIoStatus(), 0);
}

// Standard output redirected to a file that already holds text, handle
// at its end: nothing emptied, nothing cut, every line written through.
TEST_F(TextioConsole, StandardOutputToAFileAppendsAndWritesThrough) {
  const std::string path = PathOf("out.txt");
  WriteFileBytes(path, "before\x1A\r\n");
  const OsHandle file =
      Os().createFile(path.c_str(), FileAccess::kReadWrite, FileCreation::kOpenExisting);
  ASSERT_NE(file, kInvalidHandle);
  ASSERT_TRUE(Os().setFilePointer(file, 0, SeekFrom::kEnd, nullptr));
  Redirect(FaultPlan{}, file);
  TextStream console{};
  AttachName(console, std::string_view{});
  OpenNew(console);
  WriteText(console, "one", 0);
  WriteLineEnd(console);
  EXPECT_EQ(gWrites.size(), 1U);
  WriteNumber(console, 2, 0);
  EndStatement(console);
  EXPECT_EQ(gWrites.size(), 2U);
  EXPECT_EQ(CallsOf(Service::kSetEndOfFile), 0U);
  CloseStream(console);
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(ReadFileBytes(path), "before\x1A\r\none\r\n2");
}

TEST_F(TextioConsole, BrokenPipeIsAnErrorWhenWriting) {
  FaultPlan plan;
  plan.failService = Service::kWriteFile;
  plan.error = kErrBrokenPipe;
  const OsHandle device = OpenDevice();
  Redirect(plan, device);
  TextStream console{};
  AttachName(console, std::string_view{});
  OpenNew(console);
  WriteText(console, "lost", 0);
  WriteLineEnd(console);
  EXPECT_EQ(TakeIoStatus(), kErrBrokenPipe);
  CloseStream(console);
  EXPECT_EQ(TakeIoStatus(), kErrBrokenPipe);
}

TEST_F(TextioConsole, ItemWritersPadToTheirWidth) {
  struct Row {
    const char* what;
    void (*write)(TextStream&);
    std::string bytes;
  };
  const std::vector<Row> rows = {
      {"0", [](TextStream& s) { WriteNumber(s, 0, 0); }, "0"},
      {"-1", [](TextStream& s) { WriteNumber(s, -1, 0); }, "-1"},
      {"max", [](TextStream& s) { WriteNumber(s, 2147483647, 0); }, "2147483647"},
      {"min", [](TextStream& s) { WriteNumber(s, INT32_MIN, 0); }, "-2147483648"},
      {"min, width 12", [](TextStream& s) { WriteNumber(s, INT32_MIN, 12); }, " -2147483648"},
      {"42 width 5", [](TextStream& s) { WriteNumber(s, 42, 5); }, "   42"},
      {"12345 width 2", [](TextStream& s) { WriteNumber(s, 12345, 2); }, "12345"},
      {"negative width", [](TextStream& s) { WriteNumber(s, 7, -5); }, "7"},
      {"char width 0", [](TextStream& s) { WriteChar(s, ' ', 0); }, " "},
      {"char width 1", [](TextStream& s) { WriteChar(s, ' ', 1); }, " "},
      {"char width 3", [](TextStream& s) { WriteChar(s, ' ', 3); }, "   "},
      {"char 0xFF", [](TextStream& s) { WriteChar(s, '\xFF', 2); }, " \xFF"},
      {"empty text", [](TextStream& s) { WriteText(s, "", 0); }, ""},
      {"text width 5", [](TextStream& s) { WriteText(s, "ab", 5); }, "   ab"},
      {"text never cut", [](TextStream& s) { WriteText(s, "abcdef", 5); }, "abcdef"},
      {"padding over a buffer",
       [](TextStream& s) { WriteText(s, ToCounted("x"), 300); },
       std::string(299, ' ') + "x"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TextStream stream{};
    AttachName(stream, PathOf("items.txt"));
    OpenNew(stream);
    row.write(stream);
    CloseStream(stream);
    EXPECT_EQ(TakeIoStatus(), 0);
    EXPECT_EQ(ReadFileBytes(PathOf("items.txt")), row.bytes);
  }
}

TEST_F(TextioConsole, StandardStreamsOpenAtStartAndCloseInTheExitStep) {
  const OsHandle input = OpenDevice();
  const OsHandle output = OpenDevice();
  Redirect(FaultPlan{}, output, input);
  const ExitRoutine saved = ExitStep;
  OpenStandardStreams();
  EXPECT_EQ(ExitStep, &CloseStandardStreams);
  ExitStep = saved;
  EXPECT_EQ(Input.mode, StreamMode::kReading);
  EXPECT_EQ(Input.handle, input);
  EXPECT_EQ(Output.mode, StreamMode::kWriting);
  EXPECT_EQ(Output.handle, output);
  EXPECT_NE(Output.FlushHook, nullptr);
  EXPECT_EQ(CallsOf(Service::kCreateFile), 0U);
  // The standard streams keep their own 128 bytes: a line at a time.
  for (const TextStream* stream : {&Input, &Output}) {
    EXPECT_EQ(stream->buffer, stream->builtIn);
    EXPECT_EQ(stream->bufferSize, kTextBufferSize);
  }

  WriteText(Output, "done", 0);
  WriteLineEnd(Output);
  CloseStandardStreams();
  EXPECT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(gWrites, (std::vector<std::string>{"done\r\n", ""}));
  EXPECT_EQ(CallsOf(Service::kCloseHandle), 2U);
  EXPECT_EQ(Input.mode, StreamMode::kClosed);
  EXPECT_EQ(Output.mode, StreamMode::kClosed);
}

}  // namespace
}  // namespace quilbo::testing
