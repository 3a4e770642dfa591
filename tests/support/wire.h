// Wire bytes for tests: building them (bytes, hex, varints, length-delimited
// records) and comparing them.
#ifndef GCUPROTO_TESTS_WIRE_H
#define GCUPROTO_TESTS_WIRE_H

#include <gcuproto/codec/hex.h>
#include <gcuproto/codec/wire.h>
#include <google/protobuf/message.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace gcuproto_test {

// The bytes given as integers 0..255, so expectations read like the wire.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  out.reserve(values.size());
  for (int v : values) out.push_back(static_cast<char>(static_cast<std::uint8_t>(v)));
  return out;
}

// The bytes of hex text as the tool reads it. Throws std::invalid_argument
// on anything else, so a mistyped vector is not silently shortened.
inline std::string FromHex(const std::string& hex) {
  std::string bytes;
  gcuproto::codec::HexError error;
  if (!gcuproto::codec::DecodeHex(hex, &bytes, &error)) {
    throw std::invalid_argument("not a hex byte string: \"" + hex + "\"");
  }
  return bytes;
}

using gcuproto::wire::Varint;

// A length-delimited record as blackbox files and the protocol nest them:
// `key` (the whole key varint, 0x52 for field 10) and the payload's length.
inline std::string Record(std::uint32_t key, std::string_view payload) {
  std::string record;
  gcuproto::wire::AppendDelimited(&record, key, payload);
  return record;
}

// "0A 03 01 02 03": failure messages show bytes, not mojibake.
inline std::string Hex(std::string_view bytes) {
  return gcuproto::codec::EncodeHex(bytes, gcuproto::codec::HexCase::kUpper, ' ');
}

// The message's serialisation, checked against ByteSizeLong() on the way.
inline std::string Wire(const google::protobuf::Message& message) {
  std::string out;
  if (!message.SerializeToString(&out)) return "<serialisation failed>";
  if (out.size() != message.ByteSizeLong()) return "<size mismatch>";
  return out;
}

// Messages without fields keep whatever they are sent, as unknown fields, and
// write it back unchanged.
inline void ExpectKeptAsUnknown(google::protobuf::Message* message, const std::string& wire,
                                int field_count) {
  SCOPED_TRACE(message->GetDescriptor()->name());
  ASSERT_TRUE(message->ParseFromString(wire));
  EXPECT_EQ(message->GetReflection()->GetUnknownFields(*message).field_count(), field_count);
  EXPECT_EQ(Hex(Wire(*message)), Hex(wire));
}

}  // namespace gcuproto_test

// EXPECT_WIRE(message, Bytes({...})): exact serialisation, shown as hex on failure.
#define EXPECT_WIRE(message, expected) \
  EXPECT_EQ(::gcuproto_test::Hex(::gcuproto_test::Wire(message)), ::gcuproto_test::Hex(expected))

// EXPECT_WIRE_ROUND_TRIP(message, Bytes({...})): the message serialises to
// exactly those bytes, and they parse back to an equal message (unknown
// fields included, so nothing may land there).
#define EXPECT_WIRE_ROUND_TRIP(message, expected)                                       \
  do {                                                                                  \
    const ::google::protobuf::Message& built_ = (message);                              \
    EXPECT_WIRE(built_, expected);                                                      \
    std::unique_ptr<::google::protobuf::Message> parsed_(built_.New());                 \
    EXPECT_TRUE(parsed_->ParseFromString(expected));                                    \
    EXPECT_TRUE(::google::protobuf::util::MessageDifferencer::Equals(*parsed_, built_)) \
        << parsed_->DebugString();                                                      \
  } while (false)

#endif  // GCUPROTO_TESTS_WIRE_H
