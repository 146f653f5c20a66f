// IsPlainFile must cost the same whatever the folder holds: a name without
// wildcards is looked up directly, never found by scanning the folder.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fs/file_helpers.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;

// Appending avoids a false -Wrestrict of g++ 12 on "literal" + string.
std::string Numbered(const char* prefix, long number, const char* suffix) {
  std::string text(prefix);
  text.append(std::to_string(number)).append(suffix);
  return text;
}

// A folder of count one-byte files in the scratch folder.
struct Folder {
  explicit Folder(int count) {
    path = quilbo_bench::ScratchFolder() / Numbered("lookup-", count, "");
    fs::create_directory(path);
    for (int i = 0; i < count; ++i)
      std::ofstream(path / Numbered("f", i, ".log")).put('x');
    probe = (path / Numbered("f", count / 2, ".log")).string();
  }
  fs::path path;
  std::string probe;
};

void LookUp(benchmark::State& state, int count) {
  static Folder small(10);
  static Folder large(100000);
  const Folder& folder = count == 10 ? small : large;
  for (auto _ : state) benchmark::DoNotOptimize(quilbo::IsPlainFile(folder.probe));
  if (!quilbo::IsPlainFile(folder.probe)) state.SkipWithError("probe file not found");
}

void BM_IsPlainFileIn10(benchmark::State& state) { LookUp(state, 10); }
void BM_IsPlainFileIn100000(benchmark::State& state) { LookUp(state, 100000); }

}  // namespace

BENCHMARK(BM_IsPlainFileIn10);
BENCHMARK(BM_IsPlainFileIn100000);
