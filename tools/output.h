// Writing a command's output: standard output or a file that appears only
// once it is complete, as raw bytes or as hex or base64 text.
#ifndef GCUPROTO_TOOLS_OUTPUT_H
#define GCUPROTO_TOOLS_OUTPUT_H

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace gcuproto::cli {

enum class OutputForm { kBinary, kHex, kBase64 };

// Names accepted by --out, for the command-line parser.
const std::map<std::string, OutputForm>& OutputFormNames();

// Lowercase hex pairs separated by spaces, 32 bytes to a line, each line ending
// in a newline; nothing for no bytes.
std::string EncodeHex(std::string_view bytes);

// Standard base64 with padding on one line ending in a newline; nothing for no
// bytes.
std::string EncodeBase64(std::string_view bytes);

// True when the output would go to a terminal: `path` names standard output
// ("" or "-") and standard output is a terminal.
bool OutputIsTerminal(const std::string& path);

// Writes `content` to standard output for "" and "-", else to `path` as
// platform::Output does: a regular file (a symbolic link's target) is replaced
// once the content is complete, keeping its mode, owner and hard links; a
// device, FIFO or socket is written directly. Throws InputError on failure.
void WriteOutput(const std::string& path, std::string_view content);

// Throws UsageError (exit status 2) when `output` names the same file as one
// of `inputs` ("-" is standard input), before anything is written: replacing
// an input while reading it loses it. `instead` is the advice that ends the
// message, e.g. "write to a new file: recover X -o X.recovered".
void RefuseOutputOverInput(const std::string& output, const std::vector<std::string>& inputs,
                           const std::string& instead);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_OUTPUT_H
