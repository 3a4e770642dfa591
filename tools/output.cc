#include "output.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

bool write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// mkstemp creates the file readable by its owner only; give it the mode a
// plain open() would have given.
void set_default_mode(int fd) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
}

}  // namespace

const std::map<std::string, OutputForm>& output_form_names() {
  static const std::map<std::string, OutputForm> names = {
      {"binary", OutputForm::kBinary}, {"hex", OutputForm::kHex}, {"base64", OutputForm::kBase64}};
  return names;
}

// Hex and base64 encoding are a few lines each; the protobuf runtime keeps its
// encoders in internal headers, so these are ours.
std::string encode_hex(std::string_view bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    text += fmt::format("{:02x}", static_cast<unsigned char>(bytes[i]));
    text += (i % 32 == 31 || i + 1 == bytes.size()) ? '\n' : ' ';
  }
  return text;
}

std::string encode_base64(std::string_view bytes) {
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

bool output_is_terminal(const std::string& path) {
  return is_stdout(path) && ::isatty(STDOUT_FILENO) == 1;
}

void write_output(const std::string& path, std::string_view content) {
  if (is_stdout(path)) {
    write_stdout(content);
    return;
  }
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw InputError(fmt::format("cannot write {}: {}", path, std::strerror(errno)));
  set_default_mode(fd);
  const bool written = write_all(fd, content);
  const int write_errno = errno;
  if (::close(fd) != 0 || !written) {
    const int error = written ? errno : write_errno;
    ::unlink(temporary.c_str());
    throw InputError(fmt::format("cannot write {}: {}", path, std::strerror(error)));
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw InputError(fmt::format("cannot write {}: {}", path, std::strerror(error)));
  }
}

}  // namespace gcuproto::cli
