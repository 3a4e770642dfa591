// Parses the input as one message type of the library, chosen by the first
// byte (an index into the types sorted by full name), on the heap and on an
// arena, and, when it parses, checks what every message must survive:
// re-serialising and parsing again give equal bytes and an equal message,
// copying and merging agree with the wire, and the text-format and
// JSON printers give text that parses back.
#include <google/protobuf/arena.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/util/message_differencer.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "random_message.h"

namespace {

using gcuproto_test::NewMessage;
using google::protobuf::Descriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;
using google::protobuf::TextFormat;
using google::protobuf::util::MessageDifferencer;

const char* Name(const Message& m) { return m.GetDescriptor()->full_name().c_str(); }

void CheckWire(const Message& message, const std::string& bytes) {
  FUZZ_CHECK(bytes.size() == message.ByteSizeLong(), "%s: size", Name(message));

  auto reparsed = NewMessage(message.GetDescriptor());
  FUZZ_CHECK(reparsed->ParseFromString(bytes), "%s: own bytes do not parse", Name(message));
  FUZZ_CHECK(MessageDifferencer::Equals(message, *reparsed), "%s: reparsed differs", Name(message));
  FUZZ_CHECK(reparsed->SerializeAsString() == bytes, "%s: reparsed bytes differ", Name(message));

  auto copy = NewMessage(message.GetDescriptor());
  copy->CopyFrom(message);
  FUZZ_CHECK(MessageDifferencer::Equals(message, *copy), "%s: copy differs", Name(message));

  // Parsing concatenated bytes is merging: repeated fields append, singular
  // fields take the last value, sub-messages merge.
  copy->MergeFrom(message);
  auto twice = NewMessage(message.GetDescriptor());
  FUZZ_CHECK(twice->ParseFromString(bytes + bytes), "%s: doubled bytes do not parse",
             Name(message));
  FUZZ_CHECK(MessageDifferencer::Equals(*copy, *twice), "%s: merge differs from doubled bytes",
             Name(message));

  copy->Clear();
  FUZZ_CHECK(copy->ByteSizeLong() == 0, "%s: cleared message not empty", Name(message));
}

// A message on an arena owns its parts there; parsing the input into one must
// give the heap message's verdict and contents.
void CheckArena(const Descriptor* type, const std::uint8_t* data, std::size_t size,
                const Message* heap) {
  google::protobuf::Arena arena;
  Message* on_arena = MessageFactory::generated_factory()->GetPrototype(type)->New(&arena);
  const bool parsed = on_arena->ParseFromArray(data, static_cast<int>(size));
  FUZZ_CHECK(parsed == (heap != nullptr), "%s: arena parse says %d", Name(*on_arena), parsed);
  if (!parsed) return;
  FUZZ_CHECK(MessageDifferencer::Equals(*heap, *on_arena), "%s: arena message differs",
             Name(*on_arena));
  FUZZ_CHECK(on_arena->SerializeAsString() == heap->SerializeAsString(), "%s: arena bytes differ",
             Name(*on_arena));
  // Copies between the arena and the heap.
  auto back = NewMessage(on_arena->GetDescriptor());
  back->CopyFrom(*on_arena);
  on_arena->Clear();
  on_arena->MergeFrom(*back);
  FUZZ_CHECK(MessageDifferencer::Equals(*heap, *on_arena), "%s: arena merge differs",
             Name(*on_arena));
}

// The readable forms carry no unknown fields, so they are compared with a
// copy that has none.
void CheckText(const Message& message, const Message& known) {
  std::string with_unknown;
  FUZZ_CHECK(TextFormat::PrintToString(message, &with_unknown), "%s: print", Name(message));

  TextFormat::Printer printer;
  printer.SetHideUnknownFields(true);
  std::string text;
  FUZZ_CHECK(printer.PrintToString(message, &text), "%s: print", Name(message));
  auto parsed = NewMessage(message.GetDescriptor());
  FUZZ_CHECK(TextFormat::ParseFromString(text, parsed.get()), "%s: text does not parse:\n%s",
             Name(message), text.c_str());
  FUZZ_CHECK(MessageDifferencer::Equals(known, *parsed), "%s: text round trip differs:\n%s",
             Name(message), text.c_str());
}

void CheckJson(const Message& message, const Message& known) {
  std::string json;
  const auto printed = google::protobuf::util::MessageToJsonString(message, &json);
  FUZZ_CHECK(printed.ok(), "%s: JSON print: %s", Name(message), printed.ToString().c_str());
  auto parsed = NewMessage(message.GetDescriptor());
  const auto read = google::protobuf::util::JsonStringToMessage(json, parsed.get());
  FUZZ_CHECK(read.ok(), "%s: JSON does not parse: %s\n%s", Name(message), read.ToString().c_str(),
             json.c_str());
  FUZZ_CHECK(MessageDifferencer::Equals(known, *parsed), "%s: JSON round trip differs:\n%s",
             Name(message), json.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto& types = gcuproto_test::AllMessageTypes();
  const Descriptor* type = types[data[0] % types.size()];
  auto message = NewMessage(type);
  const bool parsed = message->ParseFromArray(data + 1, static_cast<int>(size - 1));
  CheckArena(type, data + 1, size - 1, parsed ? message.get() : nullptr);
  if (!parsed) return 0;

  std::string bytes;
  FUZZ_CHECK(message->SerializeToString(&bytes), "%s: serialise", Name(*message));
  CheckWire(*message, bytes);

  auto known = NewMessage(message->GetDescriptor());
  known->CopyFrom(*message);
  known->DiscardUnknownFields();
  CheckText(*message, *known);
  CheckJson(*message, *known);
  return 0;
}
