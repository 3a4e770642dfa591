// Writing a command's output: standard output or a file that appears only
// once it is complete, as raw bytes or as hex or base64 text.
#ifndef GCUPROTO_TOOLS_OUTPUT_H
#define GCUPROTO_TOOLS_OUTPUT_H

#include <map>
#include <string>
#include <string_view>

namespace gcuproto::cli {

enum class OutputForm { kBinary, kHex, kBase64 };

// Names accepted by --out, for the command-line parser.
const std::map<std::string, OutputForm>& output_form_names();

// Lowercase hex pairs separated by spaces, 32 bytes to a line, each line ending
// in a newline; nothing for no bytes.
std::string encode_hex(std::string_view bytes);

// Standard base64 with padding on one line ending in a newline; nothing for no
// bytes.
std::string encode_base64(std::string_view bytes);

// True when the output would go to a terminal: `path` names standard output
// ("" or "-") and standard output is a terminal.
bool output_is_terminal(const std::string& path);

// Writes `content` to standard output for "" and "-", else to the file at
// `path`: under a temporary name in the same directory, renamed to `path` once
// written, so a failure leaves no partial file. Throws InputError on failure.
void write_output(const std::string& path, std::string_view content);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_OUTPUT_H
