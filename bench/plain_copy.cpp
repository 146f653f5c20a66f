// The archive rule as a plain loop over 64 KiB reads and writes, the
// yardstick for the archiving speed: the text before the first 0x1A, every
// CR dropped, every LF written as CR LF, and a last line without LF ended
// with CR LF when it held any byte.
//   plain_copy <log> <archive>     appends the log's text to the archive
#include <cstdio>

namespace {

constexpr unsigned kBlock = 1U << 16;
char input[kBlock];
char output[kBlock];

bool Flush(std::FILE* out, unsigned& used) {
  const bool ok = std::fwrite(output, 1, used, out) == used;
  used = 0;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: plain_copy <log> <archive>\n", stderr);
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  std::FILE* out = std::fopen(argv[2], "ab");
  if (in == nullptr || out == nullptr) {
    std::perror("plain_copy");
    return 1;
  }
  // Unbuffered: each fread and fwrite below is one system call.
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(out, nullptr, _IONBF, 0);
  unsigned used = 0;
  bool ok = true;
  bool lineOpen = false;
  bool ended = false;
  std::size_t got = 0;
  while (!ended && ok && (got = std::fread(input, 1, kBlock, in)) != 0) {
    for (std::size_t i = 0; i < got; ++i) {
      const char c = input[i];
      if (c == '\x1A') {
        ended = true;
        break;
      }
      if (used + 2 > kBlock) ok = Flush(out, used) && ok;
      if (c == '\n') {
        output[used++] = '\r';
        output[used++] = '\n';
        lineOpen = false;
      } else {
        lineOpen = true;
        if (c != '\r') output[used++] = c;
      }
    }
  }
  if (lineOpen) {
    if (used + 2 > kBlock) ok = Flush(out, used) && ok;
    output[used++] = '\r';
    output[used++] = '\n';
  }
  ok = Flush(out, used) && ok;
  ok = std::ferror(in) == 0 && ok;
  ok = std::fclose(out) == 0 && ok;
  std::fclose(in);
  if (!ok) std::fputs("plain_copy: copy failed\n", stderr);
  return ok ? 0 : 1;
}
