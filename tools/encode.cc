// gcuproto encode TYPE [FILE|-]: builds the bytes of a message from its text.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "errors.h"
#include "input.h"
#include "message_io.h"
#include "output.h"
#include "type_lookup.h"

namespace gcuproto::cli {

namespace {

struct EncodeOptions {
  std::string type;
  std::string file;
  std::string out = "binary";
  std::string output;
  bool json = false;
  std::uint64_t max_size = kMaxMessageSize;
};

void run_encode(const EncodeOptions& options) {
  const google::protobuf::Descriptor& type = require_message(options.type);
  const OutputForm form = output_form_names().at(options.out);
  refuse_output_over_input(options.output, {options.file},
                           "write the encoded message to a file of its own, e.g. -o message.bin");
  if (form == OutputForm::kBinary && output_is_terminal(options.output)) {
    throw UsageError("not writing binary to a terminal; use -o FILE, --out hex or --out base64");
  }
  SizeLimit limit;
  limit.max = std::min(options.max_size, kMaxMessageSize);
  const std::string content = read_file_or_stdin(options.file, limit);
  const std::string_view text = text_content(content, input_name(options.file));
  const std::unique_ptr<google::protobuf::Message> message = new_message(type);
  if (options.json) {
    parse_json(text, input_name(options.file), message.get());
  } else {
    parse_text(text, input_name(options.file), message.get());
  }
  const std::string bytes = serialize(*message);
  switch (form) {
    case OutputForm::kHex:
      write_output(options.output, encode_hex(bytes));
      break;
    case OutputForm::kBase64:
      write_output(options.output, encode_base64(bytes));
      break;
    case OutputForm::kBinary:
      write_output(options.output, bytes);
      break;
  }
}

}  // namespace

void add_encode_command(CLI::App& app) {
  auto options = std::make_shared<EncodeOptions>();
  CLI::App* command = app.add_subcommand(
      "encode", "Write the bytes of a message given as text format or JSON");
  command->add_option("TYPE", options->type, "message type, e.g. Command (see 'gcuproto types')")
      ->required();
  command->add_option("FILE", options->file, "input text; '-' or none reads stdin");
  command->add_flag("--json", options->json, "the input is JSON, not text format");
  command->add_option("--out", options->out, "output form; binary is not written to a terminal")
      ->check(CLI::IsMember(output_form_names()))
      ->capture_default_str();
  command->add_option("--max-size", options->max_size, "read at most this many bytes of text (e.g. 1M)")
      ->transform(CLI::AsSizeValue(false));
  command->add_option("-o,--output", options->output, "write to this file instead of stdout");
  command->footer(
      "Reads a message of TYPE as protobuf text format (JSON with --json) and writes its bytes\n"
      "as binary, hex or base64. Errors in the input name its line and column. An output file\n"
      "appears only once it is complete; a failure leaves none behind.\n\n"
      "Examples:\n"
      "  echo 'version: 1 ping { seq_no: 7 }' | gcuproto encode Command --out hex\n"
      "  gcuproto encode Command examples/samples/command.txt -o command.bin\n"
      "  gcuproto encode Response --json response.json --out base64");
  command->callback([options] { run_encode(*options); });
}

}  // namespace gcuproto::cli
