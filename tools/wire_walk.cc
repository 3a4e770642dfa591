#include "wire_walk.h"

#include <fmt/format.h>
#include <gcuproto/codec/wire.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/stubs/common.h>
#include <google/protobuf/wire_format.h>
#include <google/protobuf/wire_format_lite.h>

#include <cstdint>
#include <limits>

#include "errors.h"

namespace gcuproto::cli {

namespace pb = google::protobuf;
using pb::internal::WireFormatLite;

namespace {

// The runtime's default nesting limit for parsing.
constexpr int kMaxDepth = 100;

std::string FieldLabel(std::uint32_t number, const pb::FieldDescriptor* field) {
  if (field == nullptr) return fmt::format("field {}", number);
  return fmt::format("field {} ({})", number, field->full_name());
}

const char* ValueFault(WireFormatLite::WireType wire_type) {
  switch (wire_type) {
    case WireFormatLite::WIRETYPE_VARINT:
      return "its varint value is malformed or cut short";
    case WireFormatLite::WIRETYPE_FIXED64:
      return "its 8-byte value is cut short";
    case WireFormatLite::WIRETYPE_FIXED32:
      return "its 4-byte value is cut short";
    case WireFormatLite::WIRETYPE_START_GROUP:
      return "its group is malformed or never closed";
    default:
      return "its value is malformed";
  }
}

std::optional<WireBreak> Walk(std::string_view bytes, std::size_t base, const pb::Descriptor* type,
                              int depth);

// Packed elements must fill the field exactly: varints each well-formed,
// fixed-size elements a whole number of them.
std::optional<WireBreak> WalkPacked(std::string_view payload, std::size_t base,
                                    const pb::FieldDescriptor& field, const std::string& label) {
  const auto wire_type =
      WireFormatLite::WireTypeForFieldType(static_cast<WireFormatLite::FieldType>(field.type()));
  if (wire_type == WireFormatLite::WIRETYPE_FIXED32 ||
      wire_type == WireFormatLite::WIRETYPE_FIXED64) {
    const std::size_t width = wire_type == WireFormatLite::WIRETYPE_FIXED32 ? 4 : 8;
    if (payload.size() % width == 0) return std::nullopt;
    return WireBreak{base, fmt::format("{}: packed length {} is not a multiple of {}", label,
                                       payload.size(), width)};
  }
  pb::io::CodedInputStream in(reinterpret_cast<const std::uint8_t*>(payload.data()),
                              RuntimeSize(payload.size()));
  while (static_cast<std::size_t>(in.CurrentPosition()) < payload.size()) {
    const std::size_t at = base + static_cast<std::size_t>(in.CurrentPosition());
    std::uint64_t value;
    if (!in.ReadVarint64(&value)) {
      return WireBreak{at, fmt::format("{}: a packed varint is malformed or cut short", label)};
    }
  }
  return std::nullopt;
}

// The field's payload, when its wire type and declared type make the runtime
// look inside it.
std::optional<WireBreak> WalkPayload(std::string_view payload, std::size_t payload_base,
                                     std::size_t key_offset, const pb::FieldDescriptor& field,
                                     const std::string& label, int depth) {
  if (field.type() == pb::FieldDescriptor::TYPE_MESSAGE) {
    if (depth + 1 >= kMaxDepth) {
      return WireBreak{key_offset,
                       fmt::format("{}: nested deeper than {} levels", label, kMaxDepth)};
    }
    return Walk(payload, payload_base, field.message_type(), depth + 1);
  }
  if (field.type() == pb::FieldDescriptor::TYPE_STRING) {
    if (pb::internal::IsStructurallyValidUTF8(payload.data(), RuntimeSize(payload.size()))) {
      return std::nullopt;
    }
    return WireBreak{key_offset, fmt::format("{}: string is not valid UTF-8", label)};
  }
  if (field.is_packable()) return WalkPacked(payload, payload_base, field, label);
  return std::nullopt;
}

std::optional<WireBreak> Walk(std::string_view bytes, std::size_t base, const pb::Descriptor* type,
                              int depth) {
  // The key and the length are read here, where a failure's byte is known;
  // the runtime skips the rest as its parser would.
  const auto* const data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::uint8_t* const end = data + bytes.size();
  pb::io::CodedInputStream in(data, RuntimeSize(bytes.size()));
  while (static_cast<std::size_t>(in.CurrentPosition()) < bytes.size()) {
    const std::size_t position = static_cast<std::size_t>(in.CurrentPosition());
    const std::size_t at = base + position;
    std::uint32_t tag = 0;
    const std::uint8_t* const after_key = wire::ReadKey(data + position, end, &tag);
    if (after_key == nullptr) return WireBreak{at, "field key is malformed or cut short"};
    const std::uint32_t number = WireFormatLite::GetTagFieldNumber(tag);
    if (number == 0) return WireBreak{at, "field key has field number 0, which no field has"};
    in.Skip(static_cast<int>(after_key - (data + position)));
    const auto wire_type = WireFormatLite::GetTagWireType(tag);
    const pb::FieldDescriptor* field =
        type != nullptr ? type->FindFieldByNumber(static_cast<int>(number)) : nullptr;
    const std::string label = FieldLabel(number, field);
    if (static_cast<int>(wire_type) > 5) {
      return WireBreak{
          at, fmt::format("{}: wire type {} does not exist", label, static_cast<int>(wire_type))};
    }
    if (wire_type == WireFormatLite::WIRETYPE_END_GROUP) {
      return WireBreak{at, fmt::format("{}: group end without a group start", label)};
    }
    if (wire_type != WireFormatLite::WIRETYPE_LENGTH_DELIMITED) {
      if (!pb::internal::WireFormat::SkipField(&in, tag, nullptr)) {
        return WireBreak{at, fmt::format("{}: {}", label, ValueFault(wire_type))};
      }
      continue;
    }
    std::uint32_t length = 0;
    const std::uint8_t* const length_at = data + in.CurrentPosition();
    const std::uint8_t* const payload = wire::ReadLength(length_at, end, &length);
    if (payload == nullptr) {
      return WireBreak{at, fmt::format("{}: its length is malformed", label)};
    }
    in.Skip(static_cast<int>(payload - length_at));
    const std::size_t payload_at = static_cast<std::size_t>(in.CurrentPosition());
    const std::size_t left = bytes.size() - payload_at;
    if (length > left) {
      return WireBreak{at, fmt::format("{}: length {} runs past the end ({} {} left)", label,
                                       length, left, left == 1 ? "byte" : "bytes")};
    }
    if (field != nullptr) {
      if (auto fault = WalkPayload(bytes.substr(payload_at, length), base + payload_at, at, *field,
                                   label, depth)) {
        return fault;
      }
    }
    in.Skip(RuntimeSize(length));
  }
  return std::nullopt;
}

}  // namespace

int RuntimeSize(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw InternalError(fmt::format("a size of {} bytes reached the protobuf runtime", size));
  }
  return static_cast<int>(size);
}

std::optional<WireBreak> FindWireBreak(std::string_view bytes, const pb::Descriptor* type) {
  return Walk(bytes, 0, type, 0);
}

}  // namespace gcuproto::cli
