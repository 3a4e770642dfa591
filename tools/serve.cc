// gcuproto serve: the software server, in front of a virtual unit or of a
// unit reached over TCP, until interrupted.
#include <fmt/format.h>
#include <gcuproto/link/server.h>
#include <gcuproto/platform/file.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>

#include "commands.h"
#include "errors.h"
#include "link_options.h"
#include "stop_signal.h"

namespace gcuproto::cli {

namespace {

using Buttons = ShowMessageResp::Buttons;

struct ServeOptions {
  UnitOptions unit;
  std::string unit_address;
  ListenOptions listen;
  ConnectionOptions connection;
  std::string answer;
  std::size_t max_clients = 64;
};

std::string ButtonName(int value) {
  const auto* descriptor = ShowMessageResp_Buttons_descriptor()->FindValueByNumber(value);
  return descriptor ? descriptor->name() : std::to_string(value);
}

// --answer: a button by name or number, "default" or "escape".
std::function<Buttons(const ShowMessageReq&)> HeadlessAnswer(const std::string& answer) {
  if (answer == "default")
    return [](const ShowMessageReq& box) { return static_cast<Buttons>(box.defaultbutton()); };
  if (answer == "escape")
    return [](const ShowMessageReq& box) { return static_cast<Buttons>(box.escapebutton()); };
  Buttons chosen;
  if (!ShowMessageResp_Buttons_Parse(answer, &chosen)) {
    int number = -1;
    if (std::sscanf(answer.c_str(), "%d", &number) != 1 ||
        !ShowMessageResp_Buttons_IsValid(number) || std::to_string(number) != answer) {
      throw UsageError(
          fmt::format("--answer: '{}' is not a button (bOk, bCancel, bYes, ... or its number), "
                      "'default' or 'escape'",
                      answer));
    }
    chosen = static_cast<Buttons>(number);
  }
  return [chosen](const ShowMessageReq& box) {
    // A box that offers buttons is answered with one of them: else, as if closed.
    for (int offered : box.messagebuttons()) {
      if (offered == chosen) return chosen;
    }
    return box.messagebuttons_size() == 0 ? chosen : static_cast<Buttons>(box.escapebutton());
  };
}

// Asks on the terminal, one box at a time.
Buttons AskOnTerminal(const ShowMessageReq& box) {
  static std::mutex terminal;
  std::lock_guard<std::mutex> lock(terminal);
  std::fprintf(stderr, "\n[%s] %s\n", box.messagetitle().c_str(), box.messagetext().c_str());
  if (!box.messageinformativetext().empty())
    std::fprintf(stderr, "%s\n", box.messageinformativetext().c_str());
  for (int i = 0; i < box.messagebuttons_size(); ++i) {
    std::fprintf(stderr, "  %d) %s\n", i + 1, ButtonName(box.messagebuttons(i)).c_str());
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::fprintf(
        stderr, "choice (number or name, Enter for %s): ", ButtonName(box.defaultbutton()).c_str());
    std::string line;
    if (!std::getline(std::cin, line)) break;
    if (line.empty()) return static_cast<Buttons>(box.defaultbutton());
    for (int i = 0; i < box.messagebuttons_size(); ++i) {
      if (line == std::to_string(i + 1) || line == ButtonName(box.messagebuttons(i))) {
        return static_cast<Buttons>(box.messagebuttons(i));
      }
    }
  }
  return static_cast<Buttons>(box.escapebutton());
}

std::unique_ptr<link::UnitLink> MakeUnit(const ServeOptions& options,
                                         const link::FrameLimits& limits) {
  if (options.unit_address.empty()) return link::MakeVirtualUnitLink(PrepareUnit(options.unit));
  if (!options.unit.replay.empty() || !options.unit.serial.empty() ||
      !options.unit.firmware.empty()) {
    throw UsageError(
        "--replay, --serial and --firmware describe the virtual unit, not one given with --unit");
  }
  if (options.unit_address.rfind("tcp:", 0) != 0) {
    throw UsageError(fmt::format("--unit: '{}' is not tcp:HOST:PORT", options.unit_address));
  }
  // The USB identity of a unit on TCP comes from --config, if given.
  const link::UnitIdentity usb = options.unit.config.empty()
                                     ? link::UnitIdentity{}
                                     : link::VirtualUnit(PrepareUnit(options.unit), {}).Identity();
  return link::MakeTcpUnitLink(ParseEndpoint(options.unit_address.substr(4), "--unit"), limits,
                               usb);
}

void RunServe(const ServeOptions& options) {
  link::ServerOptions server;
  server.listen = options.listen.Endpoint();
  server.token = options.connection.Secret();
  server.limits = options.connection.Limits();
  server.max_clients = options.max_clients;
  if (!options.answer.empty()) {
    server.show_message = HeadlessAnswer(options.answer);
  } else if (platform::File::StandardInput().IsTerminal()) {
    server.show_message = AskOnTerminal;
  } else {
    server.show_message = [](const ShowMessageReq& box) {
      std::fprintf(stderr,
                   "gcuproto serve: no terminal to show '%s'; answered with its escape button\n",
                   box.messagetitle().c_str());
      return static_cast<Buttons>(box.escapebutton());
    };
  }
  std::unique_ptr<link::UnitLink> unit = MakeUnit(options, server.limits);
  CatchStopSignals();
  std::string error;
  std::unique_ptr<link::SoftwareServer> running =
      link::SoftwareServer::Start(server, std::move(unit), &error);
  if (!running) throw InputError(error);
  Announce("serve", server.listen, running->port());
  WaitForStopSignal();
  running->Stop();
}

}  // namespace

void AddServeCommand(CLI::App& app) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* command = app.add_subcommand(
      "serve", "Run the software server in front of a virtual unit or a unit on TCP");
  AddUnitOptions(command, &options->unit);
  command->add_option("--unit", options->unit_address,
                      "tcp:HOST:PORT of the unit (a 'gcuproto sim' or a unit bridge); "
                      "without it a virtual unit runs in the server");
  AddListenOptions(command, &options->listen);
  AddConnectionOptions(command, &options->connection);
  command->add_option(
      "--answer", options->answer,
      "answer every showMessage with this button (bOk, bYes, 14, ...), 'default' or "
      "'escape'; without it the box is asked on the terminal");
  command->add_option("--max-clients", options->max_clients, "connections served at once")
      ->capture_default_str();
  command->footer(
      "Serves SoftwareServerRequest frames on 127.0.0.1 (--listen for another address). Packets\n"
      "sent with sendPacketToGcu go to the unit; its answers come back as receivePacketFromGcu,\n"
      "CAN frames to every client that has talked to the unit. The port is printed on stdout;\n"
      "SIGINT or SIGTERM (Ctrl-C, or Ctrl-Break on Windows) stops the server.\n\n"
      "Examples:\n"
      "  gcuproto serve --port 0 --answer bOk --replay examples/samples/blackbox.bin\n"
      "  gcuproto serve --port 7100 --unit tcp:127.0.0.1:7000 --token-file secret.txt");
  command->callback([options] { RunServe(*options); });
}

}  // namespace gcuproto::cli
