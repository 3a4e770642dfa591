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

bool is_stdout(const std::string& path) { return path.empty() || path == "-"; }

void write_stdout(std::string_view content) {
  if (std::fwrite(content.data(), 1, content.size(), stdout) != content.size() ||
      std::fflush(stdout) != 0) {
    throw InputError(fmt::format("cannot write to stdout: {}", std::strerror(errno)));
  }
}

[[noreturn]] void fail_output(const std::string& path, std::error_code error,
                              const std::string& detail = {}) {
  throw InputError(fmt::format("cannot write {}: {}{}", path, error.message(),
                               detail.empty() ? "" : "; " + detail));
}

}  // namespace

const std::map<std::string, OutputForm>& output_form_names() {
  static const std::map<std::string, OutputForm> names = {
      {"binary", OutputForm::kBinary}, {"hex", OutputForm::kHex}, {"base64", OutputForm::kBase64}};
  return names;
}

std::string encode_hex(std::string_view bytes) { return codec::EncodeHex(bytes, codec::HexCase::kLower, ' ', 32); }

std::string encode_base64(std::string_view bytes) {
  return bytes.empty() ? std::string() : codec::EncodeBase64(bytes) + '\n';
}

bool output_is_terminal(const std::string& path) {
  return is_stdout(path) && platform::File::standard_output().is_terminal();
}

void write_output(const std::string& path, std::string_view content) {
  if (is_stdout(path)) {
    write_stdout(content);
    return;
  }
  std::error_code error;
  platform::Output output = platform::Output::open(path, &error);
  if (error) fail_output(path, error);
  if ((error = output.file().write_all(content))) fail_output(path, error);
  std::string detail;
  if ((error = output.commit(&detail))) fail_output(path, error, detail);
}

void refuse_output_over_input(const std::string& output, const std::vector<std::string>& inputs,
                              const std::string& instead) {
  if (is_stdout(output)) return;  // a terminal or pipe, or the shell's choice
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
