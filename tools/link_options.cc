#include "link_options.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstdio>

#include "errors.h"
#include "input.h"

namespace gcuproto::cli {

void AddUnitOptions(CLI::App* command, UnitOptions* options) {
  command->add_option(
      "--config", options->config,
      "the unit's configuration, protobuf text format (see README 'Without hardware')");
  command->add_option("--replay", options->replay,
                      "blackbox log whose lines the data logger and the CAN capture deliver");
  command
      ->add_option("--speed", options->speed,
                   "replay pace: 1 the log's own, 2 twice as fast, 'max' as fast as possible")
      ->capture_default_str();
  command->add_option("--tick", options->tick, "seconds per time-stamp tick of the log")
      ->capture_default_str();
  command->add_option("--serial", options->serial, "serial number (overrides the configuration)");
  command->add_option("--firmware", options->firmware,
                      "firmware version MAJOR.MINOR.BUILD (overrides the configuration)");
}

void AddConnectionOptions(CLI::App* command, ConnectionOptions* options) {
  command->add_option("--token", options->token, "shared secret, the first frame of a connection");
  command->add_option("--token-file", options->token_file, "read the shared secret from this file");
  command
      ->add_option("--max-frame-size", options->max_frame_size,
                   "longest envelope accepted, in bytes")
      ->capture_default_str();
  command
      ->add_option("--frame-timeout", options->frame_timeout,
                   "seconds of silence allowed in the middle of a frame")
      ->capture_default_str();
}

void AddListenOptions(CLI::App* command, ListenOptions* options) {
  command->add_option("--port", options->port, "listen on 127.0.0.1:PORT; 0 picks a free port");
  command->add_option("--listen", options->listen,
                      "listen on ADDRESS:PORT, for an address other than 127.0.0.1");
}

std::string ConnectionOptions::Secret() const {
  if (!token.empty() && !token_file.empty())
    throw UsageError("give --token or --token-file, not both");
  if (token_file.empty()) return token;
  std::string text = ReadFileOrStdin(token_file);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) throw InputError(token_file + ": the token file is empty");
  return text;
}

link::FrameLimits ConnectionOptions::Limits() const {
  if (!(frame_timeout > 0)) throw UsageError("--frame-timeout must be more than 0 seconds");
  link::FrameLimits limits;
  limits.max_frame_size = max_frame_size;
  limits.frame_timeout = std::chrono::milliseconds(static_cast<long long>(frame_timeout * 1000));
  return limits;
}

link::Endpoint ParseEndpoint(const std::string& text, const std::string& option) {
  link::Endpoint endpoint;
  std::string error;
  if (!link::ParseEndpoint(text, &endpoint, &error)) throw UsageError(option + ": " + error);
  return endpoint;
}

link::Endpoint ListenOptions::Endpoint() const {
  if (port >= 0 && !listen.empty()) throw UsageError("give --port or --listen, not both");
  if (!listen.empty()) return ParseEndpoint(listen, "--listen");
  if (port > 65535)
    throw UsageError("--port: " + std::to_string(port) + " is not a port from 0 to 65535");
  link::Endpoint endpoint;  // without either: 127.0.0.1 and any free port
  endpoint.port = static_cast<std::uint16_t>(port < 0 ? 0 : port);
  return endpoint;
}

std::shared_ptr<const link::UnitSetup> PrepareUnit(const UnitOptions& options) {
  link::VirtualUnitOptions unit;
  if (!options.config.empty()) {
    unit.config_text = ReadFileOrStdin(options.config);
    unit.config_name = InputName(options.config);
  }
  unit.replay_path = options.replay;
  if (options.speed == "max") {
    unit.speed = 0;
  } else {
    try {
      std::size_t used = 0;
      unit.speed = std::stod(options.speed, &used);
      if (used != options.speed.size() || !(unit.speed > 0)) throw std::invalid_argument("speed");
    } catch (const std::exception&) {
      throw UsageError(
          fmt::format("--speed: '{}' is not a positive number or 'max'", options.speed));
    }
  }
  if (!(options.tick > 0)) throw UsageError("--tick must be more than 0 seconds");
  unit.seconds_per_tick = options.tick;
  if (!options.serial.empty()) unit.serial_number = options.serial;
  if (!options.firmware.empty()) unit.firmware_version = options.firmware;
  std::string error;
  std::shared_ptr<const link::UnitSetup> setup = link::PrepareVirtualUnit(unit, &error);
  if (!setup) throw InputError(error);
  return setup;
}

void Announce(const std::string& what, const link::Endpoint& listen, std::uint16_t port) {
  link::Endpoint bound = listen;
  bound.port = port;
  std::printf("%u\n", static_cast<unsigned>(port));
  std::fflush(stdout);
  std::fprintf(stderr, "gcuproto %s: listening on %s\n", what.c_str(), bound.ToString().c_str());
}

}  // namespace gcuproto::cli
