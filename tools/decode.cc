// gcuproto decode TYPE [FILE|-]: shows what a packet or file holds.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <google/protobuf/unknown_field_set.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

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
};

// Without a type: the fields as the wire format has them, numbered, up to the
// point where the structure breaks (if it does), which is then the error. The
// fields before a break are printed to stdout, but no output file is written
// for a failure.
void decode_raw(const Input& input, const DecodeOptions& options) {
  const std::optional<WireBreak> fault = find_wire_break(input.bytes, nullptr);
  const std::size_t intact = fault ? fault->offset : input.bytes.size();
  google::protobuf::UnknownFieldSet fields;
  fields.ParseFromArray(input.bytes.data(), static_cast<int>(intact));
  if (!fault || options.output.empty() || options.output == "-") {
    write_output(options.output, print_unknown_fields(fields, options.one_line));
  }
  if (fault) {
    throw InputError(fmt::format("{}: wire format breaks at byte offset {}, {}", input.describe(),
                                 fault->offset, fault->what));
  }
}

void run_decode(DecodeOptions options) {
  if (options.raw) {
    // "decode --raw Command x.bin", or "decode --raw Command" with the file
    // forgotten, would otherwise read "Command" as the file.
    if (!options.file.empty() ||
        (find_message(options.type) != nullptr && !std::filesystem::exists(options.type))) {
      throw UsageError("decode --raw takes no TYPE, only a FILE");
    }
    if (options.json) throw UsageError("decode --raw prints text format only, not --json");
    options.file = options.type;
    decode_raw(read_input(options.file, input_form_names().at(options.in)), options);
    return;
  }
  if (options.type.empty()) throw UsageError("decode needs a TYPE, or --raw");
  const google::protobuf::Descriptor& type = require_message(options.type);
  const Input input = read_input(options.file, input_form_names().at(options.in));
  const std::unique_ptr<google::protobuf::Message> message = new_message(type);
  parse_binary(input, message.get());
  write_output(options.output, options.json ? print_json(*message, options.one_line, input.describe())
                                            : print_text(*message, options.one_line));
}

}  // namespace

void add_decode_command(CLI::App& app) {
  auto options = std::make_shared<DecodeOptions>();
  CLI::App* command = app.add_subcommand(
      "decode", "Print a message given as binary, hex or base64 as text format or JSON");
  command->add_option("TYPE", options->type, "message type, e.g. Command (see 'gcuproto types')");
  command->add_option("FILE", options->file, "input file; '-' or none reads stdin");
  command->add_option("--in", options->in, "input form: binary, or hex/base64 text as pasted from logs")
      ->check(CLI::IsMember(input_form_names()))
      ->capture_default_str();
  command->add_flag("--json", options->json, "print JSON, field names as the schema declares them");
  command->add_flag("--oneline", options->one_line, "print on one line");
  command->add_flag("--raw", options->raw,
                    "decode without a TYPE: every field by number, up to where the input breaks");
  command->add_option("-o,--output", options->output, "write to this file instead of stdout");
  command->footer(
      "Parses the input as a message of TYPE and prints it. Fields TYPE does not declare are\n"
      "shown by number, enum values outside their enum as numbers. Hex input may hold\n"
      "whitespace, 0x prefixes, commas and colons. Input that does not parse is reported with\n"
      "the byte offset where its structure breaks; --raw then shows the fields before it.\n\n"
      "Examples:\n"
      "  gcuproto decode Command examples/samples/command.bin\n"
      "  echo '08 01 3a 02 08 07' | gcuproto decode Command --in hex --oneline\n"
      "  gcuproto decode Response --json examples/samples/response.bin\n"
      "  gcuproto decode --raw packet.bin");
  command->callback([options] { run_decode(*options); });
}

}  // namespace gcuproto::cli
