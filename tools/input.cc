#include "input.h"

#include <fmt/format.h>
#include <gcuproto/codec/base64.h>
#include <gcuproto/codec/hex.h>
#include <gcuproto/platform/file.h>

#include <utility>

#include "errors.h"

namespace gcuproto::cli {

namespace {

// `what` is "is N bytes" or "holds"
[[noreturn]] void TooLarge(const std::string& name, const std::string& what,
                           const SizeLimit& limit) {
  const std::string most = !limit.what.empty() ? limit.what
                           : limit.max == kMaxMessageSize
                               ? std::string("the 2 GiB a message can have")
                               : fmt::format("--max-size ({} bytes)", limit.max);
  std::string advice = limit.advice;
  if (advice.empty() && limit.max != kMaxMessageSize) advice = "raise --max-size to read it";
  throw InputError(
      fmt::format("{} {} more than {}{}", name, what, most, advice.empty() ? "" : "; " + advice));
}

std::string ReadAll(platform::File& file, const std::string& name, const SizeLimit& limit) {
  std::string content;
  platform::FileInfo info;
  if (!file.Info(&info)) {
    if (info.kind == platform::PathKind::kDirectory)
      throw InputError(fmt::format("{}: is a directory", name));
    if (info.kind == platform::PathKind::kRegular) {
      if (info.size > limit.max) TooLarge(name, fmt::format("is {} bytes,", info.size), limit);
      content.reserve(static_cast<std::size_t>(info.size));
    }
  }
  // Counted as it comes too: a pipe has no size, and a file may grow.
  std::unique_ptr<char[]> buffer(new char[65536]);
  for (;;) {
    std::error_code error;
    const std::size_t n = file.Read(buffer.get(), 65536, &error);
    if (error) throw InputError(fmt::format("cannot read {}: {}", name, error.message()));
    if (n == 0) break;
    if (content.size() + n > limit.max) TooLarge(name, "holds", limit);
    content.append(buffer.get(), n);
  }
  return content;
}

// A character as an error message shows it: quoted when printable, else its code.
std::string DescribeChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return fmt::format("'{}'", c);
  return fmt::format("byte 0x{:02x}", u);
}

std::string At(std::string_view text, std::size_t offset) {
  const TextPosition p = PositionInText(text, offset);
  return fmt::format("line {}, column {}", p.line, p.column);
}

[[noreturn]] void BadChar(const std::string& name, std::string_view text, std::size_t offset,
                          const char* what) {
  throw InputError(fmt::format("{}: {} at {} is not {}", name, DescribeChar(text[offset]),
                               At(text, offset), what));
}

}  // namespace

const std::map<std::string, InputForm>& InputFormNames() {
  static const std::map<std::string, InputForm> names = {
      {"binary", InputForm::kBinary}, {"hex", InputForm::kHex}, {"base64", InputForm::kBase64}};
  return names;
}

TextPosition PositionInText(std::string_view text, std::size_t offset) {
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

std::string InputName(const std::string& path) {
  return path.empty() || path == "-" ? "stdin" : path;
}

std::string ReadFileOrStdin(const std::string& path, const SizeLimit& limit) {
  if (path.empty() || path == "-") {
    platform::File in = platform::File::StandardInput();
    return ReadAll(in, "stdin", limit);
  }
  std::error_code error;
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead, &error);
  if (error) throw InputError(fmt::format("cannot open {}: {}", path, error.message()));
  return ReadAll(file, path, limit);
}

std::string_view TextContent(std::string_view content, const std::string& name) {
  if (content.substr(0, 2) == "\xFF\xFE" || content.substr(0, 2) == "\xFE\xFF") {
    throw InputError(fmt::format(
        "{} is UTF-16 text (it starts with a UTF-16 byte order mark); save it as UTF-8", name));
  }
  // UTF-16 without a mark: ASCII text with a zero byte beside every character.
  std::size_t pairs = 0;
  std::size_t half_zero = 0;
  for (std::size_t i = 0; i + 1 < content.size() && i < 64; i += 2, ++pairs) {
    if ((content[i] == '\0') != (content[i + 1] == '\0')) ++half_zero;
  }
  if (pairs > 0 && 2 * half_zero > pairs) {
    throw InputError(fmt::format(
        "{} looks like UTF-16 text (every other byte is zero); save it as UTF-8", name));
  }
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  return content;
}

std::string Input::Describe() const {
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

namespace {

std::string DecodeBase64Range(std::string_view text, std::size_t begin, std::size_t end,
                              const std::string& name);

// Lines of hex as one message: a dump, or wrapped at a fixed width.
bool IsWrapped(const std::vector<HexLine>& lines) {
  const std::size_t width = lines.front().bytes.size();
  if (width < 16) return false;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].bytes.size() != width) return false;
  }
  return lines.back().bytes.size() <= width;
}

}  // namespace

Input ReadInput(const std::string& path, InputForm form, const SizeLimit& limit) {
  Input input;
  input.name = InputName(path);
  input.form = form;
  std::string content = ReadFileOrStdin(path, limit);
  switch (form) {
    case InputForm::kBinary:
      input.bytes = std::move(content);
      break;
    case InputForm::kHex: {
      bool dump = false;
      const std::vector<HexLine> lines =
          DecodeHexLines(TextContent(content, input.name), input.name, &dump);
      if (!dump && lines.size() > 1 && !IsWrapped(lines)) {
        throw InputError(fmt::format(
            "{}: {} lines of hex (of {} and {} bytes, lines {} and {}) look like separate packets; "
            "decode one message per line with --each-line, or join the lines",
            input.name, lines.size(), lines[0].bytes.size(), lines[1].bytes.size(), lines[0].line,
            lines[1].line));
      }
      for (const HexLine& line : lines) input.bytes += line.bytes;
      break;
    }
    case InputForm::kBase64:
      input.bytes = DecodeBase64(TextContent(content, input.name), input.name);
      break;
  }
  return input;
}

std::vector<Input> ReadInputLines(const std::string& path, InputForm form, const SizeLimit& limit) {
  const std::string name = InputName(path);
  if (form == InputForm::kBinary) {
    throw UsageError(
        "--each-line reads hex or base64 text, one message per line; add --in hex or --in base64");
  }
  const std::string content = ReadFileOrStdin(path, limit);
  const std::string_view text = TextContent(content, name);
  std::vector<Input> inputs;
  auto add = [&](int line, std::string bytes) {
    Input input;
    input.name = fmt::format("{} line {}", name, line);
    input.form = form;
    input.bytes = std::move(bytes);
    inputs.push_back(std::move(input));
  };
  if (form == InputForm::kHex) {
    bool dump = false;
    std::vector<HexLine> lines = DecodeHexLines(text, name, &dump);
    if (dump) {
      throw InputError(
          fmt::format("{} is a dump with offsets, which is one message; "
                      "--each-line reads one packet per line",
                      name));
    }
    for (HexLine& line : lines) add(line.line, std::move(line.bytes));
  } else {
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      ++number;
      if (text.substr(start, end - start).find_first_not_of(" \t\r") != std::string_view::npos) {
        add(number, DecodeBase64Range(text, start, end, name));
      }
      start = end + 1;
    }
  }
  if (inputs.empty()) throw InputError(fmt::format("{} holds no line to decode", name));
  return inputs;
}

namespace {

// The hex of text[begin, end), its errors placed in the whole text.
void DecodeHexTokens(std::string_view text, std::size_t begin, std::size_t end,
                     const std::string& name, std::string* bytes) {
  codec::HexError error;
  if (codec::DecodeHex(text.substr(begin, end - begin), bytes, &error)) return;
  const std::size_t offset = begin + error.at;
  switch (error.kind) {
    case codec::HexError::kNotADigit:
      BadChar(name, text, offset, "a hex digit");
    case codec::HexError::kNoDigitsAfterPrefix:
      throw InputError(
          fmt::format("{}: 0x at {} has no hex digits after it", name, At(text, offset)));
    case codec::HexError::kOddDigits:
      throw InputError(fmt::format("{}: {} hex digits at {} do not make whole bytes", name,
                                   error.digits, At(text, offset)));
  }
}

// The dumps whose offset column and ASCII gutter are not data:
//   xxd:         "00000010: 0801 3a02 0807  ..:..."   (data ends at two spaces)
//   hexdump -C:  "00000010  08 01 3a 02  |..:.|"      (data ends at '|')
enum class DumpForm { kNone, kXxd, kHexdump };

std::size_t HexDigitsAtStart(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && codec::HexValue(line[n]) >= 0) ++n;
  return n;
}

DumpForm DumpFormOf(std::string_view line) {
  const std::size_t n = HexDigitsAtStart(line);
  if (n >= 4 && line.substr(n, 2) == ": ") return DumpForm::kXxd;
  if (n >= 7 && line.substr(n, 2) == "  " && line.find('|') != std::string_view::npos) {
    return DumpForm::kHexdump;
  }
  return DumpForm::kNone;
}

std::uint64_t ParseOffset(std::string_view digits) {
  std::uint64_t value = 0;
  for (char c : digits) value = value * 16 + static_cast<std::uint64_t>(codec::HexValue(c));
  return value;
}

}  // namespace

std::vector<HexLine> DecodeHexLines(std::string_view text, const std::string& name, bool* is_dump) {
  std::vector<HexLine> lines;
  DumpForm form = DumpForm::kNone;
  bool form_known = false;
  std::uint64_t base = 0;
  std::uint64_t total = 0;  // bytes of a dump so far
  bool repeat = false;      // a '*' line: the last line repeats up to the next offset
  int number = 0;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++number;
    std::string_view line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.remove_suffix(1);
    }
    const std::size_t line_start = start;
    start = end + 1;
    if (line.empty()) continue;
    if (!form_known) {
      form = DumpFormOf(line);
      form_known = true;
    }
    if (form == DumpForm::kNone) {
      HexLine decoded{number, {}};
      DecodeHexTokens(text, line_start, line_start + line.size(), name, &decoded.bytes);
      if (!decoded.bytes.empty()) lines.push_back(std::move(decoded));
      continue;
    }
    if (line == "*") {
      repeat = !lines.empty();
      continue;
    }
    const std::size_t digits = HexDigitsAtStart(line);
    const bool xxd = form == DumpForm::kXxd;
    if (digits == 0 || (xxd && line.substr(digits, 1) != ":") ||
        (!xxd && digits < line.size() && line[digits] != ' ')) {
      throw InputError(fmt::format("{}: line {} is not a line of the {} dump that line {} starts",
                                   name, number, xxd ? "xxd" : "hexdump -C",
                                   lines.empty() ? number : lines.front().line));
    }
    const std::uint64_t offset = ParseOffset(line.substr(0, digits));
    if (lines.empty() && !repeat && total == 0) base = offset;
    if (repeat) {
      const std::string last = lines.back().bytes;
      while (!last.empty() && total + last.size() <= offset - std::min(offset, base)) {
        lines.push_back({number, last});
        total += last.size();
      }
      repeat = false;
    }
    if (offset < base || offset - base != total) {
      throw InputError(fmt::format(
          "{}: line {} is at offset 0x{:x} where 0x{:x} was expected; is a line missing?", name,
          number, offset, base + total));
    }
    std::size_t data_begin = digits + (xxd ? 1 : 0);
    std::size_t data_end = xxd ? line.find("  ", data_begin) : line.find('|', data_begin);
    if (data_end == std::string_view::npos) data_end = line.size();
    HexLine decoded{number, {}};
    DecodeHexTokens(text, line_start + data_begin, line_start + data_end, name, &decoded.bytes);
    total += decoded.bytes.size();
    if (!decoded.bytes.empty()) lines.push_back(std::move(decoded));
  }
  if (is_dump != nullptr) *is_dump = form != DumpForm::kNone;
  return lines;
}

std::string DecodeHex(std::string_view text, const std::string& name) {
  std::string bytes;
  for (const HexLine& line : DecodeHexLines(text, name)) bytes += line.bytes;
  return bytes;
}

namespace {

std::string DecodeBase64Range(std::string_view text, std::size_t begin, std::size_t end,
                              const std::string& name) {
  std::string bytes;
  codec::Base64Error error;
  if (codec::DecodeBase64(text.substr(begin, end - begin), &bytes, &error)) return bytes;
  const std::size_t offset = begin + error.at;
  switch (error.kind) {
    case codec::Base64Error::kNotBase64:
      BadChar(name, text, offset, "base64");
    case codec::Base64Error::kAfterPadding:
      throw InputError(fmt::format("{}: base64 text goes on at {} after the '=' padding", name,
                                   At(text, offset)));
    case codec::Base64Error::kPartialByte:
      break;
  }
  throw InputError(fmt::format("{}: base64 text ends in the middle of a byte", name));
}

}  // namespace

std::string DecodeBase64(std::string_view text, const std::string& name) {
  return DecodeBase64Range(text, 0, text.size(), name);
}

}  // namespace gcuproto::cli
