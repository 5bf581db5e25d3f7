// The configuration file reader over whole files, the way the splitter
// reads its configuration: the bytes become a file (a memfd, opened again by
// path through the platform layer), ReadConfigurationPiece takes it apart
// and ParseConfigurationLine judges each piece, first with the command-line
// size flag clear, then with it set.
//
// ReadConfigurationFile itself ends the process on a grammar error, so the
// loop that drives the reader and the parser is repeated here; only when a
// file has no grammar error (under the flag in question) is it also handed
// to ReadConfigurationFile, whose final segment size and console text must
// match what the pieces said.
//
// Checked: the pieces are at most 255 bytes, NUL-terminated, cut only after
// an LF or at 255 bytes, and together they are the file read as text (up to
// the first 0x1A, CR LF as LF); every line agrees with a plain reading of
// the grammar; valid entries lie in 512 .. 2000000000; a grammar error lies
// inside the line's text.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/run_frame.h"
#include "common/segment_format.h"
#include "fuzz_check.h"
#include "platform/platform.h"
#include "splitter/splitter_settings.h"

namespace {

// The file every input is written to; created once, truncated per input.
int ConfigurationFile() {
  static const int fd = [] {
    int created = memfd_create("Trenzik.ini", MFD_CLOEXEC);
    if (created < 0) std::abort();
    return created;
  }();
  return fd;
}

std::string ConfigurationPath() {
  return "/proc/self/fd/" + std::to_string(ConfigurationFile());
}

void WriteConfiguration(const std::uint8_t* data, std::size_t size) {
  const int fd = ConfigurationFile();
  FUZZ_REQUIRE(ftruncate(fd, 0) == 0);
  std::size_t written = 0;
  while (written < size) {
    ssize_t put = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
    FUZZ_REQUIRE(put > 0);
    written += static_cast<std::size_t>(put);
  }
}

// The file as text: it ends at the first 0x1A, and CR LF reads as LF.
std::string AsText(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\x1a'));
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

std::vector<std::string> ReadPieces() {
  ConfigReader reader{};
  reader.file = platform::OpenForReading(ConfigurationPath().c_str());
  FUZZ_REQUIRE(platform::IsOpen(reader.file));
  // Exactly the line buffer's size, so that a write beyond it is caught.
  std::unique_ptr<char[]> line(new char[kConfigLineSize]);
  std::vector<std::string> pieces;
  for (;;) {
    std::memset(line.get(), 0x5a, kConfigLineSize);
    const std::size_t length = ReadConfigurationPiece(reader, line.get());
    FUZZ_REQUIRE(length <= kConfigLineSize - 1);
    FUZZ_REQUIRE(line[length] == '\0');
    if (length == 0) break;
    pieces.emplace_back(line.get(), length);
  }
  // Once at the end, the reader stays there.
  FUZZ_REQUIRE(ReadConfigurationPiece(reader, line.get()) == 0);
  platform::CloseFile(reader.file);
  return pieces;
}

void CheckPieces(const std::vector<std::string>& pieces, const std::string& text) {
  std::string joined;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const std::string& piece = pieces[k];
    const std::size_t first_lf = piece.find('\n');
    // An LF ends a piece; a piece without one is full or the file's last.
    FUZZ_REQUIRE(first_lf == std::string::npos || first_lf == piece.size() - 1);
    if (first_lf == std::string::npos) {
      FUZZ_REQUIRE(piece.size() == kConfigLineSize - 1 || k + 1 == pieces.size());
    }
    joined += piece;
  }
  FUZZ_REQUIRE(joined == text);
}

// One "size" entry as a plain reading of the grammar finds it.
struct PlainEntry {
  std::string value;
};
struct PlainLine {
  std::vector<PlainEntry> entries;
  bool valid_entry_ended_line = false;
  std::ptrdiff_t error_at = -1;
};

int Lower(int byte) { return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte; }

PlainLine ReadLinePlainly(const std::string& piece, bool flag) {
  std::size_t end = 0;
  while (end < piece.size() && piece[end] != '\n' && piece[end] != '\0') ++end;
  // -1 past the line's text, the byte otherwise.
  auto at = [&](std::size_t i) { return i < end ? static_cast<unsigned char>(piece[i]) : -1; };
  PlainLine line;
  std::size_t p = 0;
  for (;;) {
    while (at(p) == ' ') ++p;
    if (at(p) == -1 || at(p) == ';') return line;
    if (Lower(at(p)) != 's') {
      line.error_at = static_cast<std::ptrdiff_t>(p);
      return line;
    }
    ++p;
    if (Lower(at(p)) != 'i') continue;
    ++p;
    if (Lower(at(p)) != 'z') continue;
    ++p;
    if (Lower(at(p)) != 'e') continue;
    ++p;
    while (at(p) == ' ') ++p;
    if (at(p) != '=') continue;
    ++p;
    while (at(p) == ' ') ++p;
    const std::size_t start = p;
    while (at(p) != -1 && at(p) != ' ') ++p;
    line.entries.push_back({piece.substr(start, p - start)});
    if (!flag && SegmentSizeFromText(line.entries.back().value).valid) {
      line.valid_entry_ended_line = true;
      return line;
    }
  }
}

const char kInvalidLines[] =
    " [segment size] is too small, too large, or invalid. \n"
    " Valid [segment size] is a number between 512 and 2000000000(2GB)\n"
    " [segment size] is set to: 1440000\n";

struct Outcome {
  bool grammar_error = false;
  std::int32_t segment_size;
  std::string console;  // what ReadConfigurationFile prints
};

// Parses the pieces in order up to the first grammar error, checking each
// line, and works out the segment size and console text that follow.
Outcome ParsePieces(const std::vector<std::string>& pieces, bool flag, std::int32_t start_size) {
  Outcome outcome;
  outcome.segment_size = start_size;
  for (const std::string& piece : pieces) {
    const ConfigLine parsed = ParseConfigurationLine(piece, flag);
    const PlainLine plain = ReadLinePlainly(piece, flag);

    const std::size_t text_length = std::min(piece.find('\n'), piece.find('\0'));
    const std::size_t text_end = text_length == std::string::npos ? piece.size() : text_length;
    if (parsed.grammar_error) {
      FUZZ_REQUIRE(parsed.error_position < text_end);
      const char byte = piece[parsed.error_position];
      FUZZ_REQUIRE(byte != ' ' && byte != ';' && byte != 's' && byte != 'S');
    }
    FUZZ_REQUIRE(parsed.grammar_error == (plain.error_at >= 0));
    if (parsed.grammar_error) {
      FUZZ_REQUIRE(parsed.error_position == static_cast<std::size_t>(plain.error_at));
    }
    FUZZ_REQUIRE(parsed.entries.size() == plain.entries.size());

    for (std::size_t k = 0; k < parsed.entries.size(); ++k) {
      const SizeEntry& entry = parsed.entries[k];
      FUZZ_REQUIRE(entry.judged == !flag);
      if (!entry.judged) continue;
      const SizeFromText expected = SegmentSizeFromText(plain.entries[k].value);
      FUZZ_REQUIRE(entry.size.valid == expected.valid);
      if (entry.size.valid) {
        FUZZ_REQUIRE(entry.size.number >= kMinSegmentSize &&
                     entry.size.number <= kMaxSegmentSize);
        FUZZ_REQUIRE(entry.size.number == expected.number);
        // A valid entry ends the line: nothing after it, no error either.
        FUZZ_REQUIRE(k + 1 == parsed.entries.size());
        FUZZ_REQUIRE(!parsed.grammar_error);
        outcome.segment_size = static_cast<std::int32_t>(entry.size.number);
        outcome.console += "  [segment size] is set to: " + std::to_string(entry.size.number) + "\n";
      } else {
        outcome.segment_size = kDefaultSegmentSize;
        outcome.console += kInvalidLines;
      }
    }
    if (parsed.grammar_error) {
      outcome.grammar_error = true;
      return outcome;
    }
  }
  return outcome;
}

// What ReadConfigurationFile printed, for the one run at a time.
std::string g_printed;

// ReadConfigurationFile on the same file, for a file without grammar errors.
void CheckWholeReading(bool flag, const Outcome& expected, std::int32_t start_size) {
  g_printed.clear();
  RunFrame frame{};
  frame.read_key = [] { return -1; };
  frame.write_text = [](const char* text, std::size_t size) { g_printed.append(text, size); };
  frame.allocator = {std::malloc, std::free};

  platform::FileHandle file = platform::OpenForReading(ConfigurationPath().c_str());
  FUZZ_REQUIRE(platform::IsOpen(file));
  std::int32_t segment_size = start_size;
  ReadConfigurationFile(frame, file, flag, &segment_size);
  platform::CloseFile(file);
  const std::string& text = g_printed;

  FUZZ_REQUIRE(segment_size == expected.segment_size);
  FUZZ_REQUIRE(text == expected.console);
  if (flag) FUZZ_REQUIRE(segment_size == start_size && text.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteConfiguration(data, size);
  const std::vector<std::string> pieces = ReadPieces();
  CheckPieces(pieces, AsText(std::string_view(reinterpret_cast<const char*>(data), size)));

  for (bool flag : {false, true}) {
    const std::int32_t start_size = flag ? 720000 : kDefaultSegmentSize;
    const Outcome outcome = ParsePieces(pieces, flag, start_size);
    if (!outcome.grammar_error) CheckWholeReading(flag, outcome, start_size);
  }
  return 0;
}
