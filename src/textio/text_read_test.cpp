// The reading side and the line-by-line copy built on it.
#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/textio_test_util.h"

namespace quilbo::testing {
namespace {

// The copy rule written out plainly: text before the first 0x1A, split at
// every LF, CRs removed, each piece ended by CR LF; an empty last piece
// writes nothing.
std::string ModelCopy(std::string_view source) {
  const std::string_view text = source.substr(0, source.find('\x1A'));
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lf = text.find('\n', start);
    const std::size_t stop = lf == std::string_view::npos ? text.size() : lf;
    for (std::size_t i = start; i < stop; ++i)
      if (text[i] != '\r') out += text[i];
    out += "\r\n";
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return out;
}

using TextioRead = TextioTest;

TEST_F(TextioRead, CopyAppendsWhatTheRuleSays) {
  struct Row {
    std::string source;
    std::string appended;
  };
  const std::vector<Row> rows = {
      {"a\r\nb\r\n", "a\r\nb\r\n"},
      {"a\nb\n", "a\r\nb\r\n"},
      {"a\r\nb", "a\r\nb\r\n"},
      {"a\rb\r\n", "ab\r\n"},
      {"a\r\r\n", "a\r\n"},
      {"a\r", "a\r\n"},
      {"\r", "\r\n"},
      {"\n", "\r\n"},
      {"a\r\n\r\nb", "a\r\n\r\nb\r\n"},
      {"a\x1A" "b\r\n", "a\r\n"},
      {"a\r\n\x1A", "a\r\n"},
      {"\x1A" "a", ""},
      {"", ""},
      {std::string("\0\x80\xFF\n", 4), std::string("\0\x80\xFF\r\n", 5)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.source));
    EXPECT_EQ(CopiedBytes(row.source), row.appended);
  }
}

// Random sources over the bytes that matter (and the control bytes next to
// them, which the scans must pass), with CR LF pairs laid at and around the
// 128-byte refill boundaries and long runs that cross the 255-byte scan
// budget.
TEST_F(TextioRead, CopyMatchesTheModelOnRandomSources) {
  std::mt19937 random(20240611);
  const char alphabet[] = {'a',    '\r',   '\n',   '\x1A', '\0',   '\xFF',
                           '\x0C', '\x0E', '\x0B', '\x19', '\x1B', '\t'};
  constexpr std::uint32_t kKinds = sizeof alphabet;
  constexpr int kSources = 2500;
  for (int n = 0; n < kSources; ++n) {
    const auto length = random() % 900;
    const bool plain = random() % 2 == 0;  // mostly 'a': long lines
    std::string source;
    for (std::uint32_t i = 0; i < length; ++i) {
      const auto pick = random() % (plain ? 200 : kKinds);
      source += pick < kKinds ? alphabet[pick] : 'a';
    }
    for (std::size_t edge = 128; edge + 2 <= source.size(); edge += 128) {
      const auto shift = static_cast<std::size_t>(random() % 4);  // -2..+1
      if (random() % 4 != 0) source.replace(edge + shift - 2, 2, "\r\n");
    }
    if (n % 3 == 0) {  // keep the 0x1A rare in a third, so more text counts
      for (char& c : source)
        if (c == '\x1A') c = 'a';
    }
    const std::string got = CopiedBytes(source);
    ASSERT_EQ(got, ModelCopy(source)) << "source #" << n << ": "
                                      << ::testing::PrintToString(source);
  }
}

// The two streams of an append read and write through large caller
// buffers. The rule must hold wherever their boundaries fall: a CR LF split
// between two refills, a CR or 0x1A as the last or first byte of a buffer,
// pieces and long lines running across a boundary.
TEST_F(TextioRead, CopyThroughLargeBuffersHoldsTheRuleAtTheirBoundaries) {
  constexpr std::uint32_t kLarge = 64 * 1024;
  std::vector<char> logBuffer(kLarge);
  std::vector<char> archiveBuffer(kLarge);
  auto copied = [&](const std::string& source, std::uint32_t size) {
    WriteFileBytes(PathOf("source.log"), source);
    std::filesystem::remove(PathOf("archive.log"));
    TextStream log{};
    TextStream archive{};
    AttachName(log, PathOf("source.log"));
    UseBuffer(log, logBuffer.data(), size);
    OpenRead(log);
    AttachName(archive, PathOf("archive.log"));
    UseBuffer(archive, archiveBuffer.data(), size);
    OpenNew(archive);
    CopyText(log, archive);
    CloseStream(log);
    CloseStream(archive);
    EXPECT_EQ(TakeIoStatus(), 0);
    return ReadFileBytes(PathOf("archive.log"));
  };
  struct Row {
    const char* what;
    std::string bytes;  // laid at the boundary plus a shift
  };
  const std::vector<Row> rows = {
      {"CR LF", "\r\n"},       {"lone CR", "\r"},
      {"LF", "\n"},            {"CR CR LF", "\r\r\n"},
      {"0x1A", "\x1A" "after"}, {"CR then 0x1A", "\r\x1A"},
      {"CR inside a line", "x\ry"},
  };
  std::string lines;  // 80-byte CR LF lines
  while (lines.size() < 3 * kLarge) {
    for (std::size_t i = 0; i < 78; ++i)
      lines += static_cast<char>('!' + (i * 7 + lines.size() / 80) % 90);
    lines += "\r\n";
  }
  for (const std::uint32_t size : {kLarge, 1000u}) {
    for (const bool longLine : {false, true}) {
      for (const Row& row : rows) {
        for (int shift = -3; shift <= 2; ++shift) {
          const auto at = static_cast<std::size_t>(static_cast<int>(size) + shift);
          // Text before: short lines, or one line as long as a buffer.
          std::string source = longLine ? std::string(at, 'p') : lines.substr(0, at);
          source += row.bytes;
          source += lines.substr(0, 700);
          source += "last line without its end";
          const std::string got = copied(source, size);
          EXPECT_TRUE(got == ModelCopy(source))
              << "buffer " << size << (longLine ? ", long line, " : ", lines, ")
              << row.what << " at boundary " << shift;
        }
      }
    }
  }
}

// The read operations as the rules state them, byte by byte over a whole
// source in memory: the yardstick for where pieces end.
struct ModelReader {
  std::string_view text;
  std::size_t at = 0;

  bool Ends(char c) const { return c == '\n' || c == '\x1A'; }
  bool AtEnd() const { return at == text.size() || text[at] == '\x1A'; }
  std::string ReadPiece() {
    std::string piece;
    for (;;) {
      int budget = 255;
      int appended = 0;
      for (; budget > 0 && at < text.size() && !Ends(text[at]); --budget) {
        if (text[at] != '\r') {
          piece += text[at];
          ++appended;
        }
        ++at;
      }
      if (appended != 255) return piece;
    }
  }
  bool AtLineEnd() {
    while (at < text.size() && text[at] == '\r') ++at;
    return at == text.size() || Ends(text[at]);
  }
  void SkipLineEnd() {
    while (at < text.size() && text[at] != '\x1A') {
      const char c = text[at++];
      if (c == '\n') return;
      if (c == '\r') {
        if (at < text.size() && text[at] == '\n') ++at;
        return;
      }
    }
  }
};

// The copy loop's answers, piece by piece: each piece's length and bytes,
// and each AtLineEnd answer.
template <typename Reader>
std::string CopyTrace(Reader& reader) {
  std::string trace;
  while (!reader.AtEnd()) {
    const std::string piece = reader.ReadPiece();
    trace += "P" + std::to_string(piece.size()) + ":" + piece;
    const bool ended = reader.AtLineEnd();
    trace += ended ? "|L" : "|-";
    if (ended) reader.SkipLineEnd();
  }
  return trace;
}

struct StreamReader {
  TextStream& stream;
  std::string piece;
  bool AtEnd() { return quilbo::AtEnd(stream); }
  std::string ReadPiece() {
    quilbo::ReadPiece(stream, piece);
    return piece;
  }
  bool AtLineEnd() { return quilbo::AtLineEnd(stream); }
  void SkipLineEnd() { quilbo::SkipLineEnd(stream); }
};

// Pieces end where the 255-byte scans say, CRs counted, for lines far
// longer than a scan and with CRs anywhere, whatever the buffer size.
TEST_F(TextioRead, PiecesEndWhereTheScansSayWhateverTheBuffer) {
  std::mt19937 random(20261207);
  std::vector<char> buffer(64 * 1024);
  for (const std::uint32_t size : {0u, 1000u, 64u * 1024}) {
    const int sources = size == 64 * 1024 ? 6 : 60;
    for (int n = 0; n < sources; ++n) {
      std::string source;
      const std::size_t length = size == 64 * 1024 ? 140000 : 5000;
      while (source.size() < length) {
        std::string line(random() % 1300, 'a');
        for (char& c : line) {
          const auto pick = random() % 400;
          c = pick == 0 ? '\r' : static_cast<char>('a' + pick % 26);
        }
        if (random() % 5 == 0 && line.size() > 260)
          line[255 + random() % 3] = '\r';  // at and around the scan's end
        source += line + (random() % 3 == 0 ? "\r\n" : "\n");
      }
      WriteFileBytes(PathOf("pieces.log"), source);
      TextStream stream{};
      AttachName(stream, PathOf("pieces.log"));
      if (size != 0) UseBuffer(stream, buffer.data(), size);
      OpenRead(stream);
      StreamReader real{stream, {}};
      ModelReader model{source};
      const std::string got = CopyTrace(real);
      const std::string want = CopyTrace(model);
      CloseStream(stream);
      ASSERT_TRUE(got == want) << "buffer " << size << ", source #" << n << ": pieces differ at "
                               << std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
    }
  }
}

TEST_F(TextioRead, LongLinesWithoutCrComeInOnePiece) {
  for (const std::size_t length : {255u, 256u, 600u, 10u << 20}) {
    SCOPED_TRACE(length);
    const std::string line(length, 'x');
    WriteFileBytes(PathOf("long.log"), line + "\nb");
    TextStream stream{};
    AttachName(stream, PathOf("long.log"));
    OpenRead(stream);
    std::string piece;
    ReadPiece(stream, piece);
    EXPECT_TRUE(piece == line) << "piece of " << piece.size() << " bytes";
    EXPECT_TRUE(AtLineEnd(stream));
    SkipLineEnd(stream);
    ReadPiece(stream, piece);
    EXPECT_EQ(piece, "b");
    EXPECT_TRUE(AtEnd(stream));
    CloseStream(stream);
  }
}

TEST_F(TextioRead, PieceKeepsItsStorageFromLineToLine) {
  WriteFileBytes(PathOf("lines.log"),
                 std::string(600, 'x') + "\nshort\n\nmiddle line\r\nz");
  TextStream stream{};
  AttachName(stream, PathOf("lines.log"));
  OpenRead(stream);
  std::string piece;
  ReadPiece(stream, piece);
  SkipLineEnd(stream);
  const char* storage = piece.data();
  for (const char* expected : {"short", "", "middle line", "z"}) {
    ReadPiece(stream, piece);
    EXPECT_EQ(piece, expected);
    EXPECT_EQ(piece.data(), storage) << "the piece was reallocated";
    SkipLineEnd(stream);
  }
  EXPECT_TRUE(AtEnd(stream));
  CloseStream(stream);
}

// Each row runs a script of read operations on a source and compares what
// they answered: P ReadPiece ("[text]", or "<length>" when long), L
// AtLineEnd, E AtEnd (T or F), S SkipLineEnd.
TEST_F(TextioRead, ReadOperationsAnswerAsTheLineRulesSay) {
  struct Row {
    const char* what;
    std::string source;
    const char* script;
    const char* answers;
  };
  const std::string x126(126, 'x');
  const std::string x127(127, 'x');
  const std::string x128(128, 'x');
  const std::vector<Row> rows = {
      {"CR LF split by a refill", x127 + "\r\nb", "SPLE", "[b]TT"},
      {"CR at 127, other byte after", x127 + "\rb", "SP", "[b]"},
      {"CR at a buffer start", x128 + "\r\nb", "SP", "[b]"},
      {"AtLineEnd at CR 127 crosses refill", x126 + "\r\r\nb", "SLSP", "T[b]"},
      {"CR as the last byte after skip", x127 + "\r", "SE", "T"},
      {"AtLineEnd at a final CR", "a\r", "PLE", "[a]TT"},
      {"lone CR", "\r", "ELE", "FTT"},
      {"lone LF", "\n", "ELSE", "FTT"},
      {"0x1A ends text", "a\x1A" "b\r\n", "PLE", "[a]TT"},
      {"skip stops at 0x1A", "ab\x1A" "c\n", "SEP", "T[]"},
      {"CR CR LF skips one CR", "\r\r\nq", "SELSP", "FT[q]"},
      {"empty source", "", "ELP", "TT[]"},
      {"300 bytes with CR at 100",
       std::string(100, 'a') + "\r" + std::string(199, 'b') + "\nc", "PLPLSP",
       "<254>F<45>T[c]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFileBytes(PathOf("script.log"), row.source);
    TextStream stream{};
    AttachName(stream, PathOf("script.log"));
    OpenRead(stream);
    std::string answers;
    std::string piece;
    for (const char* op = row.script; *op != '\0'; ++op) {
      switch (*op) {
        case 'P':
          ReadPiece(stream, piece);
          EXPECT_EQ(piece.find('\r'), std::string::npos);
          answers += piece.size() > 20 ? "<" + std::to_string(piece.size()) + ">"
                                       : "[" + piece + "]";
          break;
        case 'L':
          answers += AtLineEnd(stream) ? 'T' : 'F';
          break;
        case 'E':
          answers += AtEnd(stream) ? 'T' : 'F';
          break;
        case 'S':
          SkipLineEnd(stream);
          break;
        default:
          FAIL() << "unknown step " << *op;
      }
    }
    EXPECT_EQ(answers, row.answers);
    CloseStream(stream);
  }
}

}  // namespace
}  // namespace quilbo::testing
