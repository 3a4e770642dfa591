// Random messages of any type of the library, filled through reflection, for
// round-trip properties, the tool's tests and fuzzing seeds. Shared by the
// tests and fuzz/; needs no test framework.
#ifndef GCUPROTO_TESTS_RANDOM_MESSAGE_H
#define GCUPROTO_TESTS_RANDOM_MESSAGE_H

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace gcuproto_test {

// Every message type of the library's schema files, sorted by full name, so an
// index into the list names the same type on every run.
const std::vector<const google::protobuf::Descriptor*>& AllMessageTypes();

// An empty message of `type`, of its generated class.
std::unique_ptr<google::protobuf::Message> NewMessage(const google::protobuf::Descriptor* type);

// Fills messages with random contents from a fixed seed: each singular field
// set or not, repeated fields with 0 to 3 elements, one member or none of each
// oneof, enums with declared and undeclared values, strings of valid UTF-8,
// sub-messages a few levels deep, and unknown fields of every wire type whose
// numbers the message does not use. The same seed gives the same messages.
class RandomMessageFiller {
 public:
  explicit RandomMessageFiller(std::uint32_t seed) : rng_(seed) {}

  void Fill(google::protobuf::Message* message) { Fill(message, 0); }

  // Every field set, repeated fields with two elements, of each oneof the
  // member `variant` picks (variant modulo the member count); enums get
  // declared values on even variants and undeclared ones on odd variants. No
  // unknown fields, so the message survives JSON and text as well as binary.
  void FillEvery(google::protobuf::Message* message, int variant) {
    FillEvery(message, variant, 0);
  }

 private:
  void Fill(google::protobuf::Message* message, int depth);
  void FillEvery(google::protobuf::Message* message, int variant, int depth);
  void SetField(google::protobuf::Message* message, const google::protobuf::FieldDescriptor* field,
                int depth);
  void AddUnknownFields(google::protobuf::Message* message);

  // Below(n) is uniform in [0, n); mt19937's output is fixed by the standard,
  // so unlike the standard distributions this gives the same values everywhere.
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
  bool OneIn(std::uint32_t n) { return Below(n) == 0; }
  std::uint32_t U32();
  std::uint64_t U64();
  std::int32_t Enum(const google::protobuf::FieldDescriptor* field);
  std::int32_t UndeclaredEnum(const google::protobuf::FieldDescriptor* field);
  std::string Utf8();
  std::string RawBytes();

  std::mt19937 rng_;
  int every_variant_ = -1;  // FillEvery's variant while it runs, else -1
};

}  // namespace gcuproto_test

#endif  // GCUPROTO_TESTS_RANDOM_MESSAGE_H
