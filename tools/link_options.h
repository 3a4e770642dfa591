// Options that sim, serve and send share: the virtual unit's, the address
// to listen on, the token and the frame limits.
#ifndef GCUPROTO_TOOLS_LINK_OPTIONS_H
#define GCUPROTO_TOOLS_LINK_OPTIONS_H

#include <gcuproto/link/endpoint.h>
#include <gcuproto/link/frame.h>
#include <gcuproto/link/virtual_unit.h>

#include <memory>
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace gcuproto::cli {

struct UnitOptions {
  std::string config;
  std::string replay;
  std::string speed = "1";
  std::string serial;
  std::string firmware;
  double tick = 0.001;
};

struct ConnectionOptions {
  std::string token;
  std::string token_file;
  std::uint32_t max_frame_size = link::kDefaultMaxFrameSize;
  double frame_timeout = 10;

  std::string Secret() const;  // the token, read from its file if given so
  link::FrameLimits Limits() const;
};

struct ListenOptions {
  int port = -1;
  std::string listen;

  // --listen, else 127.0.0.1:PORT (any free port without --port).
  link::Endpoint Endpoint() const;
};

void AddUnitOptions(CLI::App* command, UnitOptions* options);
void AddConnectionOptions(CLI::App* command, ConnectionOptions* options);
void AddListenOptions(CLI::App* command, ListenOptions* options);

// The virtual unit's configuration and log; throws InputError when bad.
std::shared_ptr<const link::UnitSetup> PrepareUnit(const UnitOptions& options);
link::Endpoint ParseEndpoint(const std::string& text, const std::string& option);

// Prints the port on stdout (for scripts) and the address on stderr.
void Announce(const std::string& what, const link::Endpoint& listen, std::uint16_t port);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_LINK_OPTIONS_H
