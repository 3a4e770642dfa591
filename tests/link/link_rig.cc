#include "link_rig.h"

namespace gcuproto::link::testing {

std::string TestData(const std::string& name) {
  return std::string(GCUPROTO_LINK_TEST_DIR) + "/" + name;
}

std::shared_ptr<const UnitSetup> Unit(const std::string& replay, double speed) {
  VirtualUnitOptions options;
  options.config_text = ReadFile(TestData("unit.txt"));
  options.replay_path = replay;
  options.speed = speed;
  std::string error;
  std::shared_ptr<const UnitSetup> setup = PrepareVirtualUnit(options, &error);
  EXPECT_TRUE(setup) << error;
  return setup;
}

std::function<void(const std::string&)> Log::Sink() {
  return [this](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  };
}

bool Log::Holds(const std::string& part) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& line : lines_) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

std::string Log::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string all;
  for (const std::string& line : lines_) all += line + "\n";
  return all;
}

Endpoint Loopback(std::uint16_t port) {
  Endpoint endpoint;
  endpoint.port = port;
  return endpoint;
}

ServerOptions Options(Log* log) {
  ServerOptions options;
  options.log = log->Sink();
  options.limits.frame_timeout = std::chrono::milliseconds(2000);
  return options;
}

Rig::Rig(Path path, std::shared_ptr<const UnitSetup> setup, ServerOptions options) : path_(path) {
  std::string error;
  options.log = log.Sink();
  if (path != Path::kServer) {
    ServerOptions unit_options = options;
    if (path == Path::kServerOverTcp) unit_options.token.clear();  // the token is the server's
    unit_server_ = UnitServer::Start(unit_options, setup, &error);
    EXPECT_TRUE(unit_server_) << error;
  }
  if (path == Path::kDirect) return;
  std::unique_ptr<UnitLink> unit =
      path == Path::kServer ? MakeVirtualUnitLink(setup)
                            : MakeTcpUnitLink(Loopback(unit_server_->port()), options.limits,
                                              VirtualUnit(setup, {}).Identity());
  software_server_ = SoftwareServer::Start(options, std::move(unit), &error);
  EXPECT_TRUE(software_server_) << error;
}

std::uint16_t Rig::port() const {
  return path_ == Path::kDirect ? unit_server_->port() : software_server_->port();
}

std::unique_ptr<UnitClient> Rig::Client(const ClientOptions& options) const {
  std::string error;
  std::unique_ptr<UnitClient> client =
      path_ == Path::kDirect
          ? ConnectUnit(Loopback(port()), options, &error)
          : std::unique_ptr<UnitClient>(ServerClient::Connect(Loopback(port()), options, &error));
  EXPECT_TRUE(client) << error;
  return client;
}

}  // namespace gcuproto::link::testing
