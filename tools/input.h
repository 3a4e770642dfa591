// Reading a command's input: a file or standard input, as raw bytes or as hex
// or base64 text the way people paste it from logs and consoles.
#ifndef GCUPROTO_TOOLS_INPUT_H
#define GCUPROTO_TOOLS_INPUT_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace gcuproto::cli {

enum class InputForm { kBinary, kHex, kBase64 };

// Names accepted by --in, for the command-line parser.
const std::map<std::string, InputForm>& InputFormNames();

// A 1-based place in a text.
struct TextPosition {
  int line = 1;
  int column = 1;
};
TextPosition PositionInText(std::string_view text, std::size_t offset);

// How errors name an input: its path, or "stdin" for "-" and no path.
std::string InputName(const std::string& path);

// The most bytes the protobuf runtime parses as one message (2 GiB less one).
constexpr std::uint64_t kMaxMessageSize = (std::uint64_t{1} << 31) - 1;

// How much of an input is read at most. A regular file's size is checked
// before anything is read; a pipe's bytes are counted as they come.
struct SizeLimit {
  std::uint64_t max = kMaxMessageSize;
  std::string advice;  // ends the error; empty gives the --max-size advice
  std::string what;    // names the limit when it is not --max-size
};

// The whole content of the file at `path`, or of standard input for "" and "-".
// Throws InputError when it cannot be read or is larger than `limit` allows.
std::string ReadFileOrStdin(const std::string& path, const SizeLimit& limit = {});

// Text as editors save it, ready to parse: a leading UTF-8 byte order mark
// is dropped (CRLF line ends are whitespace to every parser here). UTF-16
// text is refused with an InputError saying so.
std::string_view TextContent(std::string_view content, const std::string& name);

// Binary input after decoding, with what error messages need to describe it.
struct Input {
  std::string name;
  std::string bytes;
  InputForm form = InputForm::kBinary;

  // "name (6 bytes)" or "name (6 bytes decoded from hex)".
  std::string Describe() const;
};

// One message's input. Hex on several lines is one message only when the
// lines are a dump (with offsets, or wrapped: every line but the last of one
// width of at least 16 bytes, the last no longer); other lines of hex look
// like separate packets and are refused: ReadInputLines() reads those.
Input ReadInput(const std::string& path, InputForm form, const SizeLimit& limit = {});

// One message per non-empty line of hex or base64 text, each named
// "NAME line N".
std::vector<Input> ReadInputLines(const std::string& path, InputForm form,
                                  const SizeLimit& limit = {});

// Both throw InputError naming the offending text's line and column, prefixed
// with `name`. Hex may be an `xxd` or `hexdump -C` dump: the offset column
// and the ASCII gutter are skipped, offsets checked and '*' lines (repeats)
// expanded.
struct HexLine {
  int line = 0;  // 1-based line of the text
  std::string bytes;
};
std::vector<HexLine> DecodeHexLines(std::string_view text, const std::string& name,
                                    bool* is_dump = nullptr);
std::string DecodeHex(std::string_view text, const std::string& name);
std::string DecodeBase64(std::string_view text, const std::string& name);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_INPUT_H
