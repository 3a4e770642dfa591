// The top-level records of a blackbox file.
//
// A blackbox file is the serialisation of one BlackboxFile message: a plain
// sequence of records, each a key, a length and the encoded line. Records
// concatenate, so a file can be read one line at a time, appended to, and two
// files joined by placing one after the other.
#ifndef GCUPROTO_BLACKBOX_RECORD_H
#define GCUPROTO_BLACKBOX_RECORD_H

#include <cstdint>

namespace gcuproto {
namespace blackbox {

enum class RecordKind {
  kLoggerLine,  // BlackboxFile.line: a BlackboxFileLine
  kCanLine,     // BlackboxFile.lineCan: a BlackboxCandumpFileLine
};

// Keys of the two line records (field number 10 and 11, length-delimited).
constexpr std::uint8_t kLoggerLineKey = 0x52;
constexpr std::uint8_t kCanLineKey = 0x5A;

constexpr std::uint8_t KeyOf(RecordKind kind) {
  return kind == RecordKind::kLoggerLine ? kLoggerLineKey : kCanLineKey;
}

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_RECORD_H
