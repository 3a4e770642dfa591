#include "random_message.h"

#include <gcuproto/library.h>
#include <google/protobuf/unknown_field_set.h>

#include <algorithm>

namespace gcuproto_test {

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

// Sub-messages below this depth stay unset, so the messages stay small.
constexpr int kMaxDepth = 4;

// The largest field number the wire format can carry.
constexpr std::uint32_t kMaxFieldNumber = (1u << 29) - 1;

void CollectTypes(const Descriptor* type, std::vector<const Descriptor*>* out) {
  out->push_back(type);
  for (int i = 0; i < type->nested_type_count(); ++i) CollectTypes(type->nested_type(i), out);
}

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::unique_ptr<Message> NewMessage(const Descriptor* type) {
  return std::unique_ptr<Message>(
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(type)->New());
}

const std::vector<const Descriptor*>& AllMessageTypes() {
  static const std::vector<const Descriptor*> types = [] {
    std::vector<const Descriptor*> all;
    for (const auto* file : gcuproto::schema_files()) {
      for (int i = 0; i < file->message_type_count(); ++i)
        CollectTypes(file->message_type(i), &all);
    }
    std::sort(all.begin(), all.end(), [](const Descriptor* a, const Descriptor* b) {
      return a->full_name() < b->full_name();
    });
    return all;
  }();
  return types;
}

std::uint32_t RandomMessageFiller::U32() {
  // Edges and varint length boundaries come up far more often than uniform
  // draws would give them.
  static const std::uint32_t kEdges[] = {0,     1,          127,        128,       16383,
                                         16384, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  switch (Below(4)) {
    case 0:
      return kEdges[Below(sizeof kEdges / sizeof kEdges[0])];
    case 1:
      return Below(128);
    case 2:
      return Below(1u << 14);
    default:
      return static_cast<std::uint32_t>(rng_());
  }
}

std::uint64_t RandomMessageFiller::U64() {
  if (OneIn(2)) return U32();
  return (static_cast<std::uint64_t>(rng_()) << 32) | rng_();
}

std::int32_t RandomMessageFiller::UndeclaredEnum(const FieldDescriptor* field) {
  std::int32_t v = 0;
  do {
    v = static_cast<std::int32_t>(U32());
  } while (field->enum_type()->FindValueByNumber(v) != nullptr);
  return v;
}

std::int32_t RandomMessageFiller::Enum(const FieldDescriptor* field) {
  // Enums are open: a value the schema does not declare is stored and written back.
  if (every_variant_ >= 0 ? every_variant_ % 2 == 1 : OneIn(4)) return UndeclaredEnum(field);
  const auto* type = field->enum_type();
  return type->value(static_cast<int>(Below(static_cast<std::uint32_t>(type->value_count()))))
      ->number();
}

std::string RandomMessageFiller::Utf8() {
  std::string out;
  for (std::uint32_t n = Below(9); n > 0; --n) {
    std::uint32_t cp = 0;
    switch (Below(4)) {
      case 0:
        cp = Below(0x80);
        break;
      case 1:
        cp = 0x80 + Below(0x800 - 0x80);
        break;
      case 2:
        cp = 0x800 + Below(0x10000 - 0x800 - 0x800);
        if (cp >= 0xD800) cp += 0x800;  // skip the surrogates
        break;
      default:
        cp = 0x10000 + Below(0x110000 - 0x10000);
        break;
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

std::string RandomMessageFiller::RawBytes() {
  std::string out(Below(17), '\0');
  for (char& c : out) c = static_cast<char>(Below(256));
  return out;
}

void RandomMessageFiller::SetField(Message* message, const FieldDescriptor* field, int depth) {
  const Reflection* r = message->GetReflection();
  const bool repeated = field->is_repeated();
  switch (field->cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32: {
      const auto v = static_cast<std::int32_t>(U32());
      repeated ? r->AddInt32(message, field, v) : r->SetInt32(message, field, v);
      break;
    }
    case FieldDescriptor::CPPTYPE_UINT32: {
      const auto v = U32();
      repeated ? r->AddUInt32(message, field, v) : r->SetUInt32(message, field, v);
      break;
    }
    case FieldDescriptor::CPPTYPE_INT64: {
      const auto v = static_cast<std::int64_t>(U64());
      repeated ? r->AddInt64(message, field, v) : r->SetInt64(message, field, v);
      break;
    }
    case FieldDescriptor::CPPTYPE_UINT64: {
      const auto v = U64();
      repeated ? r->AddUInt64(message, field, v) : r->SetUInt64(message, field, v);
      break;
    }
    case FieldDescriptor::CPPTYPE_BOOL: {
      const bool v = OneIn(2);
      repeated ? r->AddBool(message, field, v) : r->SetBool(message, field, v);
      break;
    }
    case FieldDescriptor::CPPTYPE_ENUM: {
      const auto v = Enum(field);
      repeated ? r->AddEnumValue(message, field, v) : r->SetEnumValue(message, field, v);
      break;
    }
    case FieldDescriptor::CPPTYPE_STRING: {
      std::string v = field->type() == FieldDescriptor::TYPE_STRING ? Utf8() : RawBytes();
      repeated ? r->AddString(message, field, std::move(v))
               : r->SetString(message, field, std::move(v));
      break;
    }
    case FieldDescriptor::CPPTYPE_MESSAGE: {
      Message* sub = repeated ? r->AddMessage(message, field) : r->MutableMessage(message, field);
      if (every_variant_ >= 0) {
        FillEvery(sub, every_variant_, depth + 1);
      } else {
        Fill(sub, depth + 1);
      }
      break;
    }
    default:
      // No schema of the library has float or double fields.
      break;
  }
}

void RandomMessageFiller::Fill(Message* message, int depth) {
  const Descriptor* type = message->GetDescriptor();
  for (int i = 0; i < type->field_count(); ++i) {
    const FieldDescriptor* field = type->field(i);
    if (field->containing_oneof() != nullptr) continue;
    if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE && depth >= kMaxDepth) continue;
    if (field->is_repeated()) {
      for (std::uint32_t n = Below(4); n > 0; --n) SetField(message, field, depth);
    } else if (!OneIn(3)) {
      SetField(message, field, depth);
    }
  }
  for (int i = 0; i < type->oneof_decl_count(); ++i) {
    const auto* oneof = type->oneof_decl(i);
    const auto pick = Below(static_cast<std::uint32_t>(oneof->field_count()) + 1);
    if (pick == 0) continue;  // none set
    const FieldDescriptor* field = oneof->field(static_cast<int>(pick - 1));
    if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE && depth >= kMaxDepth) continue;
    SetField(message, field, depth);
  }
  if (OneIn(2)) AddUnknownFields(message);
}

void RandomMessageFiller::FillEvery(Message* message, int variant, int depth) {
  every_variant_ = variant;
  const Descriptor* type = message->GetDescriptor();
  for (int i = 0; i < type->field_count(); ++i) {
    const FieldDescriptor* field = type->field(i);
    if (const auto* oneof = field->containing_oneof()) {
      if (field->index_in_oneof() != variant % oneof->field_count()) continue;
    }
    if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE && depth >= kMaxDepth) continue;
    for (int n = field->is_repeated() ? 2 : 1; n > 0; --n) SetField(message, field, depth);
  }
  if (depth == 0) every_variant_ = -1;
}

void RandomMessageFiller::AddUnknownFields(Message* message) {
  const Descriptor* type = message->GetDescriptor();
  auto* unknown = message->GetReflection()->MutableUnknownFields(message);
  for (std::uint32_t n = 1 + Below(3); n > 0; --n) {
    // Mostly numbers next to the known ones, sometimes anywhere in the range.
    std::uint32_t number = 0;
    do {
      number = OneIn(4) ? 1 + Below(kMaxFieldNumber) : 1 + Below(40);
    } while (type->FindFieldByNumber(static_cast<int>(number)) != nullptr);
    const int num = static_cast<int>(number);
    switch (Below(4)) {
      case 0:
        unknown->AddVarint(num, U64());
        break;
      case 1:
        unknown->AddFixed32(num, U32());
        break;
      case 2:
        unknown->AddFixed64(num, U64());
        break;
      default:
        unknown->AddLengthDelimited(num, RawBytes());
        break;
    }
  }
}

}  // namespace gcuproto_test
