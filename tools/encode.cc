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

void RunEncode(const EncodeOptions& options) {
  const google::protobuf::Descriptor& type = RequireMessage(options.type);
  const OutputForm form = OutputFormNames().at(options.out);
  RefuseOutputOverInput(options.output, {options.file},
                        "write the encoded message to a file of its own, e.g. -o message.bin");
  if (form == OutputForm::kBinary && OutputIsTerminal(options.output)) {
    throw UsageError("not writing binary to a terminal; use -o FILE, --out hex or --out base64");
  }
  SizeLimit limit;
  limit.max = std::min(options.max_size, kMaxMessageSize);
  const std::string content = ReadFileOrStdin(options.file, limit);
  const std::string_view text = TextContent(content, InputName(options.file));
  const std::unique_ptr<google::protobuf::Message> message = NewMessage(type);
  if (options.json) {
    ParseJson(text, InputName(options.file), message.get());
  } else {
    ParseText(text, InputName(options.file), message.get());
  }
  const std::string bytes = Serialize(*message);
  switch (form) {
    case OutputForm::kHex:
      WriteOutput(options.output, EncodeHex(bytes));
      break;
    case OutputForm::kBase64:
      WriteOutput(options.output, EncodeBase64(bytes));
      break;
    case OutputForm::kBinary:
      WriteOutput(options.output, bytes);
      break;
  }
}

}  // namespace

void AddEncodeCommand(CLI::App& app) {
  auto options = std::make_shared<EncodeOptions>();
  CLI::App* command =
      app.add_subcommand("encode", "Write the bytes of a message given as text format or JSON");
  command->add_option("TYPE", options->type, "message type, e.g. Command (see 'gcuproto types')")
      ->required();
  command->add_option("FILE", options->file, "input text; '-' or none reads stdin");
  command->add_flag("--json", options->json, "the input is JSON, not text format");
  command->add_option("--out", options->out, "output form; binary is not written to a terminal")
      ->check(CLI::IsMember(OutputFormNames()))
      ->capture_default_str();
  command
      ->add_option("--max-size", options->max_size,
                   "read at most this many bytes of text (e.g. 1M)")
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
  command->callback([options] { RunEncode(*options); });
}

}  // namespace gcuproto::cli
