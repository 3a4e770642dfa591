// Decoding of one data-logger line without the general message parser.
#ifndef GCUPROTO_BLACKBOX_LINE_DECODER_H
#define GCUPROTO_BLACKBOX_LINE_DECODER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/export.h>

#include <string_view>

namespace gcuproto {
namespace blackbox {

// Replaces `line` with the BlackboxFileLine encoded in `bytes`; false when the
// bytes are not a valid encoding. The result, and the verdict, are those of
// BlackboxFileLine::ParseFromArray, but the common encodings (packed or
// unpacked samples, the four known fields) are decoded by a loop specialised
// for them, reusing the line's sample storage; anything else goes to the
// general parser.
GCUPROTO_BLACKBOX_EXPORT bool DecodeLoggerLine(std::string_view bytes, BlackboxFileLine* line);

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_LINE_DECODER_H
