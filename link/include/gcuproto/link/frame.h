// How envelopes travel on a byte stream: each one serialised and preceded by
// its length as a varint (protobuf's delimited format).
#ifndef GCUPROTO_LINK_FRAME_H
#define GCUPROTO_LINK_FRAME_H

#include <chrono>
#include <cstdint>

namespace gcuproto {
namespace link {

constexpr std::uint32_t kDefaultMaxFrameSize = 16u << 20;

struct FrameLimits {
  // Longest envelope accepted; a longer length is refused before its body is read.
  std::uint32_t max_frame_size = kDefaultMaxFrameSize;
  // Longest silence allowed once a frame has begun, and for a write to make progress.
  std::chrono::milliseconds frame_timeout{10000};
};

enum class ReadStatus {
  kOk,
  kTimeout,   // no frame began within the time given
  kClosed,    // the peer closed the connection between frames
  kBadFrame,  // the error says why; the connection is of no further use
};

}  // namespace link
}  // namespace gcuproto

#endif  // GCUPROTO_LINK_FRAME_H
