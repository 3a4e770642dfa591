// What the shared decoders accept where that is a choice: five-byte keys as
// the runtime reads them, and the forms of hex and base64 pasted from logs.
#include <gcuproto/codec/base64.h>
#include <gcuproto/codec/hex.h>
#include <gcuproto/codec/wire.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "wire.h"

namespace {

using gcuproto::codec::Base64Error;
using gcuproto::codec::HexError;

TEST(Codec, FiveByteKeyKeepsItsLow32Bits) {
  // The runtime parses 88 80 80 80 10 01 as field 1 of value 1.
  const std::string key = gcuproto_test::Bytes({0x88, 0x80, 0x80, 0x80, 0x10});
  const auto* p = reinterpret_cast<const std::uint8_t*>(key.data());
  std::uint32_t value = 0;
  EXPECT_EQ(gcuproto::wire::ReadKey(p, p + key.size(), &value), p + key.size());
  EXPECT_EQ(value, 0x08u);
}

struct TextCase {
  bool base64;
  const char* text;
  const char* bytes;  // as hex
  int error_at;       // -1: none
};

TEST(Codec, PastedTextDecodesOrSaysWhere) {
  const TextCase kCases[] = {
      {false, "0x8, 0x0a:FF", "08 0A FF", -1},  // one digit after 0x is a byte
      {false, "0a 8", "0A", 3},                 // but not alone
      {false, "0a 0x", "0A", 3},
      {true, "+/-_", "FB FF BF", -1},  // either alphabet
      {true, "AA==A", "00", 4},        // padding ends it
      {true, "AAAAA", "00 00 00", 5},
  };
  for (const TextCase& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string bytes;
    HexError hex_error;
    Base64Error base64_error;
    const bool ok = c.base64 ? gcuproto::codec::DecodeBase64(c.text, &bytes, &base64_error)
                             : gcuproto::codec::DecodeHex(c.text, &bytes, &hex_error);
    EXPECT_EQ(ok, c.error_at < 0);
    if (!ok) {
      EXPECT_EQ(c.base64 ? base64_error.at : hex_error.at, static_cast<std::size_t>(c.error_at));
    }
    EXPECT_EQ(gcuproto_test::Hex(bytes), c.bytes);
  }
}

}  // namespace
