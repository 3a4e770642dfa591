#include "input.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "errors.h"

namespace gcuproto::cli {

namespace {

std::string read_stream(std::FILE* file, const std::string& name) {
  std::string content;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
  if (std::ferror(file)) {
    throw InputError(fmt::format("cannot read {}: {}", name, std::strerror(errno)));
  }
  return content;
}

bool is_hex_separator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ':';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;  // standard and URL-safe alphabets
  if (c == '/' || c == '_') return 63;
  return -1;
}

// A character as an error message shows it: quoted when printable, else its code.
std::string describe_char(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return fmt::format("'{}'", c);
  return fmt::format("byte 0x{:02x}", u);
}

std::string at(std::string_view text, std::size_t offset) {
  const TextPosition p = text_position(text, offset);
  return fmt::format("line {}, column {}", p.line, p.column);
}

}  // namespace

const std::map<std::string, InputForm>& input_form_names() {
  static const std::map<std::string, InputForm> names = {
      {"binary", InputForm::kBinary}, {"hex", InputForm::kHex}, {"base64", InputForm::kBase64}};
  return names;
}

TextPosition text_position(std::string_view text, std::size_t offset) {
  TextPosition p;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++p.line;
      p.column = 1;
    } else {
      ++p.column;
    }
  }
  return p;
}

std::string input_name(const std::string& path) {
  return path.empty() || path == "-" ? "stdin" : path;
}

std::string read_file_or_stdin(const std::string& path) {
  if (path.empty() || path == "-") return read_stream(stdin, "stdin");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) throw InputError(fmt::format("cannot open {}: {}", path, std::strerror(errno)));
  return read_stream(file.get(), path);
}

std::string Input::describe() const {
  switch (form) {
    case InputForm::kHex:
      return fmt::format("{} ({} bytes decoded from hex)", name, bytes.size());
    case InputForm::kBase64:
      return fmt::format("{} ({} bytes decoded from base64)", name, bytes.size());
    case InputForm::kBinary:
      break;
  }
  return fmt::format("{} ({} bytes)", name, bytes.size());
}

Input read_input(const std::string& path, InputForm form) {
  Input input;
  input.name = input_name(path);
  input.form = form;
  std::string content = read_file_or_stdin(path);
  switch (form) {
    case InputForm::kBinary:
      input.bytes = std::move(content);
      break;
    case InputForm::kHex:
      input.bytes = decode_hex(content, input.name);
      break;
    case InputForm::kBase64:
      input.bytes = decode_base64(content, input.name);
      break;
  }
  return input;
}

// The protobuf runtime has no public hex decoder, and none that tolerates the
// separators of pasted dumps, so this one is ours. Each token between
// whitespace, commas and colons is an optional 0x prefix and an even number of
// hex digits ("0x8" alone, one digit after 0x, is also one byte).
std::string decode_hex(std::string_view text, const std::string& name) {
  std::string bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (is_hex_separator(text[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && !is_hex_separator(text[i])) ++i;
    std::string_view token = text.substr(start, i - start);
    const bool prefixed = token.size() >= 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
    std::string_view digits = prefixed ? token.substr(2) : token;
    std::size_t digits_offset = start + (prefixed ? 2 : 0);
    for (std::size_t k = 0; k < digits.size(); ++k) {
      if (hex_value(digits[k]) < 0) {
        throw InputError(fmt::format("{}: {} at {} is not a hex digit", name,
                                     describe_char(digits[k]), at(text, digits_offset + k)));
      }
    }
    if (digits.empty()) {
      throw InputError(fmt::format("{}: 0x at {} has no hex digits after it", name, at(text, start)));
    }
    if (digits.size() % 2 != 0 && !(prefixed && digits.size() == 1)) {
      throw InputError(fmt::format("{}: {} hex digits at {} do not make whole bytes", name,
                                   digits.size(), at(text, start)));
    }
    if (digits.size() == 1) {
      bytes.push_back(static_cast<char>(hex_value(digits[0])));
      continue;
    }
    for (std::size_t k = 0; k < digits.size(); k += 2) {
      bytes.push_back(static_cast<char>(hex_value(digits[k]) * 16 + hex_value(digits[k + 1])));
    }
  }
  return bytes;
}

// The protobuf runtime keeps its base64 decoder in internal headers and it
// reports no position, so this one is ours: standard or URL-safe alphabet,
// whitespace ignored, padding optional but only at the end.
std::string decode_base64(std::string_view text, const std::string& name) {
  std::string bytes;
  unsigned bits = 0;
  int bit_count = 0;
  std::size_t symbols = 0;
  std::size_t padding_at = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      if (padding_at == std::string_view::npos) padding_at = i;
      continue;
    }
    const int value = base64_value(c);
    if (value < 0) {
      throw InputError(fmt::format("{}: {} at {} is not base64", name, describe_char(c), at(text, i)));
    }
    if (padding_at != std::string_view::npos) {
      throw InputError(fmt::format("{}: base64 text goes on at {} after the '=' padding", name,
                                   at(text, i)));
    }
    ++symbols;
    bits = (bits << 6) | static_cast<unsigned>(value);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      bytes.push_back(static_cast<char>((bits >> bit_count) & 0xFF));
    }
  }
  if (symbols % 4 == 1) {
    throw InputError(fmt::format("{}: base64 text ends in the middle of a byte", name));
  }
  return bytes;
}

}  // namespace gcuproto::cli
