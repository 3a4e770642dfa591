#include "wire.h"

#include <stdexcept>

namespace gcuproto_test {

namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FromHex(const std::string& hex) {
  std::string out;
  int high = -1;
  for (char c : hex) {
    if (c == ' ' && high < 0) continue;
    const int d = Digit(c);
    if (d < 0) throw std::invalid_argument("not a hex byte string: \"" + hex + "\"");
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<char>(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits: \"" + hex + "\"");
  return out;
}

std::string Varint(std::uint64_t value) {
  std::string out;
  do {
    out.push_back(static_cast<char>((value & 0x7F) | (value > 0x7F ? 0x80 : 0)));
    value >>= 7;
  } while (value != 0);
  return out;
}

std::string Record(std::uint64_t key, const std::string& payload) {
  return Varint(key) + Varint(payload.size()) + payload;
}

}  // namespace gcuproto_test
