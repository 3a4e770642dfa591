// Reading a command's input: a file or standard input, as raw bytes or as hex
// or base64 text the way people paste it from logs and consoles.
#ifndef GCUPROTO_TOOLS_INPUT_H
#define GCUPROTO_TOOLS_INPUT_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace gcuproto::cli {

enum class InputForm { kBinary, kHex, kBase64 };

// Names accepted by --in, for the command-line parser.
const std::map<std::string, InputForm>& input_form_names();

// A 1-based place in a text.
struct TextPosition {
  int line = 1;
  int column = 1;
};
TextPosition text_position(std::string_view text, std::size_t offset);

// How errors name an input: its path, or "stdin" for "-" and no path.
std::string input_name(const std::string& path);

// The whole content of the file at `path`, or of standard input for "" and "-".
// Throws InputError when it cannot be read.
std::string read_file_or_stdin(const std::string& path);

// Binary input after decoding, with what error messages need to describe it.
struct Input {
  std::string name;
  std::string bytes;
  InputForm form = InputForm::kBinary;

  // "name (6 bytes)" or "name (6 bytes decoded from hex)".
  std::string describe() const;
};

Input read_input(const std::string& path, InputForm form);

// Both throw InputError naming the offending text's line and column, prefixed
// with `name`.
std::string decode_hex(std::string_view text, const std::string& name);
std::string decode_base64(std::string_view text, const std::string& name);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_INPUT_H
