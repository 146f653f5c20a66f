// The line-by-line copy of a 64 MiB log against the bare platform calls it
// is built on: reads and writes of the same bytes, of the same size (the
// argument: 128 bytes, the built-in buffer, or 64 KiB, the append's
// buffers). The difference is what the text streams themselves cost.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "errors/io_status.h"
#include "scratch_folder.h"
#include "platform/platform.h"
#include "textio/text_stream.h"

namespace {

using namespace quilbo;

constexpr std::int64_t kLogBytes = 64LL << 20;

struct BenchFiles {
  std::string source;
  std::string target;
};

// A log of 80-byte lines (78 characters and CR LF), made once per run in
// the scratch folder.
const BenchFiles& Files() {
  static const BenchFiles files = [] {
    const auto& dir = quilbo_bench::ScratchFolder();
    BenchFiles made{(dir / "copy_bench.log").string(), (dir / "copy_bench.out").string()};
    std::string line;
    for (int i = 0; i < 78; ++i) line += static_cast<char>(' ' + (i * 7) % 95);
    line += "\r\n";
    std::ofstream out(made.source, std::ios::binary | std::ios::trunc);
    for (std::int64_t written = 0; written < kLogBytes;
         written += static_cast<std::int64_t>(line.size()))
      out.write(line.data(), static_cast<std::streamsize>(line.size()));
    return made;
  }();
  return files;
}

void BM_TextStreamCopy(benchmark::State& state) {
  const BenchFiles& files = Files();
  const auto size = static_cast<std::uint32_t>(state.range(0));
  std::vector<char> buffers(2 * static_cast<std::size_t>(size));
  std::string piece;
  for (auto _ : state) {
    TextStream source{};
    TextStream archive{};
    AttachName(source, files.source);
    UseBuffer(source, buffers.data(), size);
    OpenRead(source);
    AttachName(archive, files.target);
    UseBuffer(archive, buffers.data() + size, size);
    OpenNew(archive);
    while (!AtEnd(source)) {
      ReadPiece(source, piece);
      EndStatement(source);
      WriteText(archive, piece, 0);
      EndStatement(archive);
      if (AtLineEnd(source)) {
        SkipLineEnd(source);
        WriteLineEnd(archive);
      }
    }
    CloseStream(source);
    CloseStream(archive);
    if (TakeIoStatus() != 0) state.SkipWithError("copy failed");
  }
  state.SetBytesProcessed(state.iterations() * kLogBytes);
}

void BM_RawBlockCopy(benchmark::State& state) {
  const BenchFiles& files = Files();
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const PlatformApi& os = Os();
    const OsHandle in = CreateFileByPath(files.source.c_str(), FileAccess::kRead,
                                         FileCreation::kOpenExisting);
    const OsHandle out = CreateFileByPath(files.target.c_str(), FileAccess::kReadWrite,
                                          FileCreation::kCreateAlways);
    if (in == kInvalidHandle || out == kInvalidHandle) {
      state.SkipWithError("open failed");
      break;
    }
    std::uint32_t got = 0;
    while (os.readFile(in, buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got) &&
           got != 0) {
      std::uint32_t put = 0;
      os.writeFile(out, buffer.data(), got, &put);
    }
    os.closeHandle(in);
    os.closeHandle(out);
  }
  state.SetBytesProcessed(state.iterations() * kLogBytes);
}

BENCHMARK(BM_TextStreamCopy)->Arg(128)->Arg(64 << 10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawBlockCopy)->Arg(128)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

}  // namespace
