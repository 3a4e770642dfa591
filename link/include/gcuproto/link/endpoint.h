// A TCP address as the tools write it: HOST:PORT, or [IPV6]:PORT.
#ifndef GCUPROTO_LINK_ENDPOINT_H
#define GCUPROTO_LINK_ENDPOINT_H

#include <gcuproto/link/export.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace gcuproto {
namespace link {

struct GCUPROTO_LINK_EXPORT Endpoint {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;  // 0 when listening: any free port

  std::string ToString() const;
};

// Reads "HOST:PORT"; false with `*error` naming what is wrong.
GCUPROTO_LINK_EXPORT bool ParseEndpoint(std::string_view text, Endpoint* endpoint,
                                        std::string* error);

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_ENDPOINT_H
