// Which field of a CAN line the tools and exports take for the frame's
// identifier: the unit fills both.
#ifndef GCUPROTO_BLACKBOX_CAN_ID_FIELD_H
#define GCUPROTO_BLACKBOX_CAN_ID_FIELD_H

namespace gcuproto {
namespace blackbox {

enum class CanIdField { kCanId, kMessageId };

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_CAN_ID_FIELD_H
