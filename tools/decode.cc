// gcuproto decode TYPE [FILE|-]: shows what a packet or file holds.
#include <fmt/format.h>
#include <gcuproto/blackbox.pb.h>
#include <google/protobuf/unknown_field_set.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "input.h"
#include "message_io.h"
#include "output.h"
#include "type_lookup.h"
#include "wire_walk.h"

namespace gcuproto::cli {

namespace {

struct DecodeOptions {
  std::string type;
  std::string file;
  std::string in = "binary";
  std::string output;
  bool json = false;
  bool one_line = false;
  bool raw = false;
  bool each_line = false;
  std::uint64_t max_size = kMaxMessageSize;
};

// A whole log parsed as one message takes several times its size in memory;
// the blackbox commands read it record by record.
constexpr std::uint64_t kMaxBlackboxMessage = std::uint64_t{64} << 20;

SizeLimit SizeLimitFor(const DecodeOptions& options, const google::protobuf::Descriptor* type) {
  SizeLimit limit;
  limit.max = std::min(options.max_size, kMaxMessageSize);
  if (type != nullptr && type->full_name() == BlackboxFile::descriptor()->full_name() &&
      limit.max > kMaxBlackboxMessage) {
    limit.max = kMaxBlackboxMessage;
    limit.what = "the 64 MiB decode reads as one BlackboxFile";
    limit.advice =
        "a blackbox log this large is read record by record by 'gcuproto blackbox info' and "
        "'gcuproto blackbox export --format jsonl'";
  }
  return limit;
}

// Without a type: the fields as the wire format has them, numbered, up to the
// point where the structure breaks (if it does), which is then the error. The
// fields before a break are printed to stdout, but no output file is written
// for a failure.
void DecodeRaw(const Input& input, const DecodeOptions& options) {
  const std::optional<WireBreak> fault = FindWireBreak(input.bytes, nullptr);
  const std::size_t intact = fault ? fault->offset : input.bytes.size();
  google::protobuf::UnknownFieldSet fields;
  fields.ParseFromArray(input.bytes.data(), RuntimeSize(intact));
  if (!fault || options.output.empty() || options.output == "-") {
    WriteOutput(options.output, PrintUnknownFields(fields, options.one_line));
  }
  if (fault) {
    throw InputError(fmt::format("{}: wire format breaks at byte offset {}, {}", input.Describe(),
                                 fault->offset, fault->what));
  }
}

void RunDecode(DecodeOptions options) {
  if (options.raw) {
    // "decode --raw Command x.bin", or "decode --raw Command" with the file
    // forgotten, would otherwise read "Command" as the file.
    std::error_code exists_error;
    if (!options.file.empty() || (FindMessage(options.type) != nullptr &&
                                  !std::filesystem::exists(options.type, exists_error))) {
      throw UsageError("decode --raw takes no TYPE, only a FILE");
    }
    if (options.json) throw UsageError("decode --raw prints text format only, not --json");
    options.file = options.type;
    RefuseOutputOverInput(
        options.output, {options.file},
        "write the decoded text to a file of its own, e.g. -o " + options.file + ".txt");
    if (options.each_line) throw UsageError("decode --raw reads one message, not --each-line");
    DecodeRaw(
        ReadInput(options.file, InputFormNames().at(options.in), SizeLimitFor(options, nullptr)),
        options);
    return;
  }
  if (options.type.empty()) throw UsageError("decode needs a TYPE, or --raw");
  RefuseOutputOverInput(
      options.output, {options.file},
      "write the decoded text to a file of its own, e.g. -o " + options.file + ".txt");
  const google::protobuf::Descriptor& type = RequireMessage(options.type);
  const InputForm form = InputFormNames().at(options.in);
  const SizeLimit limit = SizeLimitFor(options, &type);
  const std::vector<Input> inputs = options.each_line
                                        ? ReadInputLines(options.file, form, limit)
                                        : std::vector<Input>{ReadInput(options.file, form, limit)};
  // All messages are checked before anything is written: a bad line fails
  // the run, and names its line.
  std::string text;
  for (const Input& input : inputs) {
    const std::unique_ptr<google::protobuf::Message> message = NewMessage(type);
    ParseBinary(input, message.get());
    // Several messages in text format are told apart by a blank line.
    if (!text.empty() && !options.one_line && !options.json) text += '\n';
    text += options.json ? PrintJson(*message, options.one_line, input.Describe())
                         : PrintText(*message, options.one_line);
  }
  WriteOutput(options.output, text);
}

}  // namespace

void AddDecodeCommand(CLI::App& app) {
  auto options = std::make_shared<DecodeOptions>();
  CLI::App* command = app.add_subcommand(
      "decode", "Print a message given as binary, hex or base64 as text format or JSON");
  command->add_option("TYPE", options->type, "message type, e.g. Command (see 'gcuproto types')");
  command->add_option("FILE", options->file, "input file; '-' or none reads stdin");
  command
      ->add_option("--in", options->in,
                   "input form: binary, or hex/base64 text as pasted from logs")
      ->check(CLI::IsMember(InputFormNames()))
      ->capture_default_str();
  command->add_flag("--json", options->json, "print JSON, field names as the schema declares them");
  command->add_flag("--oneline", options->one_line, "print on one line");
  command->add_flag("--raw", options->raw,
                    "decode without a TYPE: every field by number, up to where the input breaks");
  command->add_flag("--each-line", options->each_line,
                    "hex or base64 input holds one message per line (pasted packets); each is "
                    "decoded and printed in turn");
  command
      ->add_option("--max-size", options->max_size,
                   "read at most this many bytes (e.g. 64M); the most a message can have is 2 GiB")
      ->transform(CLI::AsSizeValue(false));
  command->add_option("-o,--output", options->output, "write to this file instead of stdout");
  command->footer(
      "Parses the input as a message of TYPE and prints it. Fields TYPE does not declare are\n"
      "shown by number, enum values outside their enum as numbers. Hex input may hold\n"
      "whitespace, 0x prefixes, commas and colons, and may be an xxd or hexdump -C dump (the\n"
      "offsets and the ASCII column are skipped). Hex on several lines is one message when it\n"
      "is a dump or wrapped at one width; lines of other lengths are separate packets, which\n"
      "--each-line decodes one by one. Input that does not parse is reported with\n"
      "the byte offset where its structure breaks; --raw then shows the fields before it.\n\n"
      "Examples:\n"
      "  gcuproto decode Command examples/samples/command.bin\n"
      "  echo '08 01 3a 02 08 07' | gcuproto decode Command --in hex --oneline\n"
      "  gcuproto decode Response --json examples/samples/response.bin\n"
      "  gcuproto decode --raw packet.bin");
  command->callback([options] { RunDecode(*options); });
}

}  // namespace gcuproto::cli
