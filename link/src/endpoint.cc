#include <gcuproto/link/endpoint.h>

#include <charconv>

namespace gcuproto {
namespace link {

std::string Endpoint::ToString() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ParseEndpoint(std::string_view text, Endpoint* endpoint, std::string* error) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) {
    *error = "'" + std::string(text) + "' is not HOST:PORT";
    return false;
  }
  std::string_view host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    *error = "'" + std::string(text) + "': write an IPv6 address in brackets, [ADDRESS]:PORT";
    return false;
  }
  const std::string_view port = text.substr(colon + 1);
  unsigned value = 0;
  const auto [end, status] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || status != std::errc() || end != port.data() + port.size() || value > 65535) {
    *error = "'" + std::string(text) + "': the port is not a number from 0 to 65535";
    return false;
  }
  endpoint->host = std::string(host);
  endpoint->port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace link
}  // namespace gcuproto
