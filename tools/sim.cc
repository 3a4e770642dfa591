// gcuproto sim: the virtual unit, serving Command/Response frames over TCP
// as a unit bridge would, until interrupted.
#include <gcuproto/link/server.h>

#include <CLI/CLI.hpp>
#include <memory>

#include "commands.h"
#include "errors.h"
#include "link_options.h"
#include "stop_signal.h"

namespace gcuproto::cli {

namespace {

struct SimOptions {
  UnitOptions unit;
  ListenOptions listen;
  ConnectionOptions connection;
  std::size_t max_clients = 64;
};

void RunSim(const SimOptions& options) {
  link::ServerOptions server;
  server.listen = options.listen.Endpoint();
  server.token = options.connection.Secret();
  server.limits = options.connection.Limits();
  server.max_clients = options.max_clients;
  std::shared_ptr<const link::UnitSetup> setup = PrepareUnit(options.unit);
  CatchStopSignals();
  std::string error;
  std::unique_ptr<link::UnitServer> unit = link::UnitServer::Start(server, setup, &error);
  if (!unit) throw InputError(error);
  Announce("sim", server.listen, unit->port());
  WaitForStopSignal();
  unit->Stop();
}

}  // namespace

void AddSimCommand(CLI::App& app) {
  auto options = std::make_shared<SimOptions>();
  CLI::App* command = app.add_subcommand(
      "sim", "Run a virtual unit that answers Command frames over TCP, without hardware");
  AddUnitOptions(command, &options->unit);
  AddListenOptions(command, &options->listen);
  AddConnectionOptions(command, &options->connection);
  command->add_option("--max-clients", options->max_clients, "connections served at once")
      ->capture_default_str();
  command->footer(
      "Each connection gets a unit of its own, made from --config, that answers every Command\n"
      "with a Response. The data logger answers data requests with the logger lines of --replay\n"
      "and the CAN capture sends its CAN lines, at the log's own pace or as --speed says. The\n"
      "port is printed on stdout; SIGINT or SIGTERM (Ctrl-C, or Ctrl-Break on Windows) stops\n"
      "the unit.\n\n"
      "Examples:\n"
      "  gcuproto sim --port 0 --config unit.txt --replay examples/samples/blackbox.bin\n"
      "  gcuproto sim --port 7000 --speed max --replay log.bin");
  command->callback([options] { RunSim(*options); });
}

}  // namespace gcuproto::cli
