#include "output.h"

#include <fmt/format.h>
#include <gcuproto/codec/base64.h>
#include <gcuproto/codec/hex.h>
#include <gcuproto/platform/file.h>

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

std::string EncodeHex(std::string_view bytes) {
  return codec::EncodeHex(bytes, codec::HexCase::kLower, ' ', 32);
}

std::string EncodeBase64(std::string_view bytes) {
  return bytes.empty() ? std::string() : codec::EncodeBase64(bytes) + '\n';
}

bool OutputIsTerminal(const std::string& path) {
  return IsStdout(path) && platform::File::StandardOutput().IsTerminal();
}

void WriteOutput(const std::string& path, std::string_view content) {
  if (IsStdout(path)) {
    WriteStdout(content);
    return;
  }
  std::error_code error;
  platform::Output output = platform::Output::Open(path, &error);
  if (error) FailOutput(path, error);
  if ((error = output.file().WriteAll(content))) FailOutput(path, error);
  std::string detail;
  if ((error = output.Commit(&detail))) FailOutput(path, error, detail);
}

void RefuseOutputOverInput(const std::string& output, const std::vector<std::string>& inputs,
                           const std::string& instead) {
  if (IsStdout(output)) return;  // a terminal or pipe, or the shell's choice
  platform::FileInfo written;
  if (platform::StatPath(output, &written) || written.kind == platform::PathKind::kMissing) return;
  // Devices such as /dev/null may well be both.
  if (written.kind != platform::PathKind::kRegular) return;
  for (const std::string& input : inputs) {
    platform::FileInfo read;
    const std::error_code error = input.empty() || input == "-"
                                      ? platform::File::StandardInput().Info(&read)
                                      : platform::StatPath(input, &read);
    if (!error && read.id == written.id) {
      throw UsageError(
          fmt::format("the output {} is the input {}: writing it would destroy what is "
                      "being read; {}",
                      output, input.empty() || input == "-" ? "stdin" : input, instead));
    }
  }
}

}  // namespace gcuproto::cli
