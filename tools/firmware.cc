// gcuproto firmware FILE: what a firmware update file holds.
#include <fmt/format.h>
#include <gcuproto/bootloader_commands.pb.h>
#include <gcuproto/firmwareFile.pb.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "errors.h"
#include "input.h"
#include "message_io.h"
#include "output.h"
#include "table.h"
#include "wire_walk.h"

namespace gcuproto::cli {

namespace {

struct FirmwareOptions {
  std::string file;
  std::string in = "binary";
  bool commands = false;
  bool loader = false;
  std::uint64_t max_size = kMaxMessageSize;
};

std::string Summary(const Input& input, const FirmwareFile& firmware) {
  std::uint64_t payload = 0;
  int checkpoints = 0;
  for (const FirmwareCommand& command : firmware.commands()) {
    payload += command.data().size();
    if (command.checkpoint()) ++checkpoints;
  }
  Table table;
  table.AddRow({"file:", input.Describe()});
  table.AddRow({"version:", std::to_string(firmware.version())});
  table.AddRow(
      {"firmware public key:", fmt::format("{} bytes", firmware.firmwarepublickey().size())});
  table.AddRow(
      {"encryption public key:", fmt::format("{} bytes", firmware.encryptionpublickey().size())});
  table.AddRow({"AES key:", fmt::format("{} bytes", firmware.aeskey().size())});
  table.AddRow({"command blobs:", std::to_string(firmware.commands_size())});
  table.AddRow({"checkpoints:", std::to_string(checkpoints)});
  table.AddRow({"total payload:", fmt::format("{} bytes", payload)});
  return table.Render();
}

// One blob read as a flash loader command; a blob that is not one is marked,
// not fatal: update files may carry blobs of other kinds.
std::string LoaderCommand(const std::string& blob) {
  LoaderCommands command;
  if (!command.ParseFromString(blob)) {
    const std::optional<WireBreak> fault = FindWireBreak(blob, LoaderCommands::descriptor());
    if (!fault) return "not a LoaderCommands message";
    return fmt::format("not a LoaderCommands message: at byte offset {}, {}", fault->offset,
                       fault->what);
  }
  std::string text;
  switch (command.command_case()) {
    case LoaderCommands::kErase:
      text = fmt::format("erase  index {}  addr 0x{:08x}  size {}", command.erase().index(),
                         command.erase().addr(), command.erase().size());
      break;
    case LoaderCommands::kWrite:
      text = fmt::format("write  index {}  addr 0x{:08x}  size {}", command.write().index(),
                         command.write().addr(), command.write().data().size());
      break;
    case LoaderCommands::kReset:
      text = fmt::format("reset  index {}", command.reset().index());
      break;
    case LoaderCommands::COMMAND_NOT_SET:
      text = "no loader command";
      break;
  }
  if (HasUnknownFields(command)) text += "  (and fields LoaderCommands does not declare)";
  return text;
}

std::string BlobTable(const FirmwareFile& firmware, bool loader) {
  Table table({0, 1, 2});
  std::vector<std::string> header = {"position", "index", "size", "checkpoint"};
  if (loader) header.push_back("loader command");
  table.AddRow(header);
  for (int i = 0; i < firmware.commands_size(); ++i) {
    const FirmwareCommand& command = firmware.commands(i);
    std::vector<std::string> row = {std::to_string(i), std::to_string(command.index()),
                                    std::to_string(command.data().size()),
                                    command.checkpoint() ? "yes" : ""};
    if (loader) row.push_back(LoaderCommand(command.data()));
    table.AddRow(row);
  }
  return table.Render();
}

void RunFirmware(const FirmwareOptions& options) {
  SizeLimit limit;
  limit.max = std::min(options.max_size, kMaxMessageSize);
  const Input input = ReadInput(options.file, InputFormNames().at(options.in), limit);
  FirmwareFile firmware;
  ParseBinary(input, &firmware);
  // Many byte strings parse as some FirmwareFile; an update file declares
  // nothing it does not know and holds at least something.
  if (HasUnknownFields(firmware)) {
    throw InputError(
        fmt::format("{} is not a firmware update file: it holds fields FirmwareFile does "
                    "not declare (see 'gcuproto decode --raw')",
                    input.Describe()));
  }
  if (firmware.ByteSizeLong() == 0) {
    throw InputError(
        fmt::format("{} is not a firmware update file: it holds no version, key or "
                    "command blob",
                    input.Describe()));
  }
  std::string text = Summary(input, firmware);
  if (options.commands || options.loader) text += "\n" + BlobTable(firmware, options.loader);
  WriteOutput("", text);
}

}  // namespace

void AddFirmwareCommand(CLI::App& app) {
  auto options = std::make_shared<FirmwareOptions>();
  CLI::App* command =
      app.add_subcommand("firmware", "Summarise a firmware update file and its command blobs");
  command->add_option("FILE", options->file, "the update file; '-' reads stdin")->required();
  command->add_option("--in", options->in, "input form: binary, or hex/base64 text")
      ->check(CLI::IsMember(InputFormNames()))
      ->capture_default_str();
  command->add_flag("--commands", options->commands,
                    "one line per command blob: position, index, size, checkpoint");
  command->add_flag(
      "--loader", options->loader,
      "as --commands, with each blob decoded as a LoaderCommands message (erase, write "
      "or reset with address and size); blobs that are not one are marked");
  command->add_option("--max-size", options->max_size, "read at most this many bytes (e.g. 64M)")
      ->transform(CLI::AsSizeValue(false));
  command->footer(
      "Prints the file's version, key lengths, number of command blobs, checkpoints and total\n"
      "payload; --commands adds one line per blob, --loader also reads each blob as a flash\n"
      "loader command (erase, write or reset with address and size).\n\n"
      "Examples:\n"
      "  gcuproto firmware examples/samples/firmware.bin\n"
      "  gcuproto firmware --loader examples/samples/firmware.bin");
  command->callback([options] { RunFirmware(*options); });
}

}  // namespace gcuproto::cli
