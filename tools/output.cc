#include "output.h"

#include <fmt/format.h>
#include <gcuproto/platform/file.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "errors.h"

namespace gcuproto::cli {

namespace {

bool IsStdout(const std::string& path) { return path.empty() || path == "-"; }

void WriteStdout(std::string_view content) {
  if (std::fwrite(content.data(), 1, content.size(), stdout) != content.size() ||
      std::fflush(stdout) != 0) {
    throw InputError(fmt::format("cannot write to stdout: {}", std::strerror(errno)));
  }
}

[[noreturn]] void FailOutput(const std::string& path, std::error_code error,
                              const std::string& detail = {}) {
  throw InputError(fmt::format("cannot write {}: {}{}", path, error.message(),
                               detail.empty() ? "" : "; " + detail));
}

}  // namespace

const std::map<std::string, OutputForm>& OutputFormNames() {
  static const std::map<std::string, OutputForm> names = {
      {"binary", OutputForm::kBinary}, {"hex", OutputForm::kHex}, {"base64", OutputForm::kBase64}};
  return names;
}

// Hex and base64 encoding are a few lines each; the protobuf runtime keeps its
// encoders in internal headers, so these are ours.
std::string EncodeHex(std::string_view bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    text += fmt::format("{:02x}", static_cast<unsigned char>(bytes[i]));
    text += (i % 32 == 31 || i + 1 == bytes.size()) ? '\n' : ' ';
  }
  return text;
}

std::string EncodeBase64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (bytes.empty()) return {};
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    unsigned group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      text += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  text += '\n';
  return text;
}

bool OutputIsTerminal(const std::string& path) {
  return IsStdout(path) && platform::File::standard_output().is_terminal();
}

void WriteOutput(const std::string& path, std::string_view content) {
  if (IsStdout(path)) {
    WriteStdout(content);
    return;
  }
  std::error_code error;
  platform::Output output = platform::Output::open(path, &error);
  if (error) FailOutput(path, error);
  if ((error = output.file().write_all(content))) FailOutput(path, error);
  std::string detail;
  if ((error = output.commit(&detail))) FailOutput(path, error, detail);
}

void RefuseOutputOverInput(const std::string& output, const std::vector<std::string>& inputs,
                              const std::string& instead) {
  if (IsStdout(output)) return;  // a terminal or pipe, or the shell's choice
  platform::FileInfo written;
  if (platform::stat_path(output, &written) || written.kind == platform::PathKind::kMissing) return;
  // Devices such as /dev/null may well be both.
  if (written.kind != platform::PathKind::kRegular) return;
  for (const std::string& input : inputs) {
    platform::FileInfo read;
    const std::error_code error = input.empty() || input == "-"
                                      ? platform::File::standard_input().info(&read)
                                      : platform::stat_path(input, &read);
    if (!error && read.id == written.id) {
      throw UsageError(fmt::format("the output {} is the input {}: writing it would destroy what is "
                                   "being read; {}",
                                   output, input.empty() || input == "-" ? "stdin" : input, instead));
    }
  }
}

}  // namespace gcuproto::cli
