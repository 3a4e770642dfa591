// gcuproto send: a client of the software server (or of a unit on TCP) for
// the shell: one request and its answer, or a recording session.
#include <fmt/format.h>
#include <gcuproto/link/client.h>
#include <gcuproto/link/recorder.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "errors.h"
#include "input.h"
#include "link_options.h"
#include "message_io.h"
#include "output.h"
#include "stop_signal.h"

namespace gcuproto::cli {

namespace {

struct SendOptions {
  std::string server;
  std::string unit;
  std::string type;
  std::string text;
  std::string record;
  std::string logger;
  ConnectionOptions connection;
  double timeout = 10;
  bool json = false;
  bool one_line = false;
};

std::string Print(const google::protobuf::Message& message, const SendOptions& options,
                  const std::string& source) {
  return options.json ? PrintJson(message, options.one_line, source)
                      : PrintText(message, options.one_line);
}

void RunSend(const SendOptions& options) {
  if (options.server.empty() == options.unit.empty()) {
    throw UsageError(
        "send needs --server HOST:PORT (the software server) or --unit HOST:PORT (a unit)");
  }
  const bool recording = !options.record.empty();
  if (recording && !options.type.empty()) throw UsageError("send --record takes no TYPE and TEXT");
  if (!recording && (options.type.empty() || options.text.empty())) {
    throw UsageError(
        "send needs a TYPE (Command or SoftwareServerRequest) and its TEXT, or --record LOG");
  }
  if (!recording && options.type != "Command" && options.type != "SoftwareServerRequest") {
    throw UsageError(
        fmt::format("send: TYPE '{}' is not Command or SoftwareServerRequest", options.type));
  }
  if (options.type == "SoftwareServerRequest" && options.server.empty()) {
    throw UsageError("a SoftwareServerRequest goes to --server, not to a unit");
  }
  if (!(options.timeout > 0)) throw UsageError("--timeout must be more than 0 seconds");
  const auto timeout = std::chrono::milliseconds(static_cast<long long>(options.timeout * 1000));

  link::ClientOptions client;
  client.limits = options.connection.Limits();
  client.token = options.connection.Secret();
  client.connect_timeout = timeout;
  // Parse the request before connecting: bad text is a bad input, not a network fault.
  Command command;
  SoftwareServerRequest request;
  const std::string source = options.text == "-" ? "stdin" : "TEXT";
  if (!recording) {
    const std::string text = options.text == "-" ? ReadFileOrStdin("-") : options.text;
    if (options.type == "Command") {
      ParseText(text, source, &command);
      if (command.version() == 0) command.set_version(1);  // the envelope's protocol version
    } else {
      ParseText(text, source, &request);
    }
  }
  link::RecordOptions record;
  if (!options.logger.empty()) ParseText(options.logger, "--logger", &record.logger);

  std::string error;
  std::unique_ptr<link::UnitClient> unit;
  link::ServerClient* server = nullptr;
  if (!options.server.empty()) {
    std::unique_ptr<link::ServerClient> connected =
        link::ServerClient::Connect(ParseEndpoint(options.server, "--server"), client, &error);
    server = connected.get();
    unit = std::move(connected);
  } else {
    unit = link::ConnectUnit(ParseEndpoint(options.unit, "--unit"), client, &error);
  }
  if (!unit) throw InputError(error);

  if (recording) {
    CatchStopSignals();
    record.timeout = timeout;
    record.stop_requested = StopRequested;
    link::RecordSummary summary;
    const bool recorded = link::Record(*unit, options.record, record, &summary, &error);
    std::fprintf(stderr, "gcuproto send: %s: %llu logger lines, %llu CAN lines\n",
                 options.record.c_str(), static_cast<unsigned long long>(summary.logger_lines),
                 static_cast<unsigned long long>(summary.can_lines));
    if (!recorded) throw InputError(options.record + ": " + error);
    return;
  }
  if (options.type == "Command") {
    Response answer;
    if (!unit->Exchange(command, &answer, timeout, &error)) throw InputError(error);
    if (answer.resp_case() == Response::RESP_NOT_SET) {
      throw InputError(fmt::format("the answer from {} holds no response: is it a unit?",
                                   options.server.empty() ? options.unit : options.server));
    }
    WriteOutput("", Print(answer, options, "the unit's answer"));
    return;
  }
  SoftwareServerResponse answer;
  if (!server->Call(request, &answer, timeout, &error)) throw InputError(error);
  WriteOutput("", Print(answer, options, "the server's answer"));
}

}  // namespace

void AddSendCommand(CLI::App& app) {
  auto options = std::make_shared<SendOptions>();
  CLI::App* command = app.add_subcommand(
      "send", "Send a Command or a SoftwareServerRequest and print the answer; record a log");
  command->add_option("TYPE", options->type, "Command (for the unit) or SoftwareServerRequest");
  command->add_option("TEXT", options->text,
                      "the request in protobuf text format; '-' reads stdin");
  command->add_option("--server", options->server, "HOST:PORT of the software server");
  command->add_option("--unit", options->unit, "HOST:PORT of a unit that serves Command frames");
  command->add_option("--record", options->record,
                      "start the data logger and the CAN capture and append what arrives to this "
                      "blackbox file until SIGINT or SIGTERM (Ctrl-C or Ctrl-Break)");
  command->add_option("--logger", options->logger,
                      "the DataloggerStart of --record, text format (e.g. 'frequency: 100')");
  command->add_option("--timeout", options->timeout, "seconds to wait for an answer")
      ->capture_default_str();
  command->add_flag("--json", options->json, "print JSON, field names as the schema declares them");
  command->add_flag("--oneline", options->one_line, "print on one line");
  AddConnectionOptions(command, &options->connection);
  command->footer(
      "A Command is wrapped in sendPacketToGcu (--server) or sent as it is (--unit), with\n"
      "version 1 unless the text sets one, and the unit's Response is printed. A\n"
      "SoftwareServerRequest prints the server's SoftwareServerResponse.\n\n"
      "Examples:\n"
      "  gcuproto send --server 127.0.0.1:7100 Command 'ping { seq_no: 7 }'\n"
      "  gcuproto send --server 127.0.0.1:7100 SoftwareServerRequest 'getSerialNumber {}'\n"
      "  gcuproto send --server 127.0.0.1:7100 --record session.bin");
  command->callback([options] { RunSend(*options); });
}

}  // namespace gcuproto::cli
