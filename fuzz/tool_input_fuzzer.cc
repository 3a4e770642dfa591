// The command-line tool's input paths on arbitrary text: hex and base64
// decoding, binary parsing with the wire walk that places a failure, and the
// text-format and JSON readers. The first byte picks the path, the second the
// message type (an index into the types sorted by full name); the rest is the
// input. Rejected input must come back as InputError and nothing else.
#include <google/protobuf/message.h>
#include <google/protobuf/util/message_differencer.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "errors.h"
#include "fuzz_check.h"
#include "input.h"
#include "message_io.h"
#include "output.h"
#include "random_message.h"
#include "runtime_log.h"
#include "wire_walk.h"

namespace {

namespace cli = gcuproto::cli;
using google::protobuf::Message;
using google::protobuf::util::MessageDifferencer;

const char* Name(const Message& m) { return m.GetDescriptor()->full_name().c_str(); }

// Decoded bytes are parsed as the chosen type; the wire walk must find a
// break exactly when the runtime's parser fails.
void CheckBinary(const cli::Input& input, Message* message) {
  const bool parses = message->ParseFromString(input.bytes);
  cli::TakeRuntimeLog();
  const std::optional<cli::WireBreak> found =
      cli::FindWireBreak(input.bytes, message->GetDescriptor());
  FUZZ_CHECK(parses != found.has_value(), "%s: parser %s, wire walk %s", Name(*message),
             parses ? "accepts" : "rejects", found ? found->what.c_str() : "finds no break");
  if (found) FUZZ_CHECK(found->offset < input.bytes.size(), "break past the end");
  message->Clear();
  try {
    cli::ParseBinary(input, message);
    FUZZ_CHECK(parses, "%s: ParseBinary accepts what the parser rejects", Name(*message));
  } catch (const cli::InputError&) {
    FUZZ_CHECK(!parses, "%s: ParseBinary rejects what the parser accepts", Name(*message));
  }
}

void CheckHex(std::string_view text, Message* message) {
  cli::Input input;
  input.form = cli::InputForm::kHex;
  try {
    input.bytes = cli::DecodeHex(text, "fuzz");
  } catch (const cli::InputError&) {
    return;
  }
  FUZZ_CHECK(cli::DecodeHex(cli::EncodeHex(input.bytes), "again") == input.bytes, "hex round trip");
  CheckBinary(input, message);
}

void CheckBase64(std::string_view text, Message* message) {
  cli::Input input;
  input.form = cli::InputForm::kBase64;
  try {
    input.bytes = cli::DecodeBase64(text, "fuzz");
  } catch (const cli::InputError&) {
    return;
  }
  FUZZ_CHECK(cli::DecodeBase64(cli::EncodeBase64(input.bytes), "again") == input.bytes,
             "base64 round trip");
  CheckBinary(input, message);
}

// What the text reader accepts, the text printer writes back in a form the
// reader gives the same message for, on one line or many.
void CheckText(std::string_view text, Message* message, bool one_line) {
  try {
    cli::ParseText(text, "fuzz", message);
  } catch (const cli::InputError&) {
    return;
  }
  const std::string printed = cli::PrintText(*message, one_line);
  std::unique_ptr<Message> again(message->New());
  try {
    cli::ParseText(printed, "printed", again.get());
  } catch (const cli::InputError& e) {
    FUZZ_CHECK(false, "%s: printed text does not read back: %s\n%s", Name(*message), e.what(),
               printed.c_str());
  }
  FUZZ_CHECK(MessageDifferencer::Equals(*message, *again), "%s: text round trip differs:\n%s",
             Name(*message), printed.c_str());
  try {
    cli::Serialize(*message);  // refuses a string field that is not UTF-8
  } catch (const cli::InputError&) {
  }
}

void CheckJson(std::string_view text, Message* message, bool one_line) {
  try {
    cli::ParseJson(text, "fuzz", message);
  } catch (const cli::InputError&) {
    return;
  }
  const std::string printed = cli::PrintJson(*message, one_line, "fuzz");
  std::unique_ptr<Message> again(message->New());
  try {
    cli::ParseJson(printed, "printed", again.get());
  } catch (const cli::InputError& e) {
    FUZZ_CHECK(false, "%s: printed JSON does not read back: %s\n%s", Name(*message), e.what(),
               printed.c_str());
  }
  FUZZ_CHECK(MessageDifferencer::Equals(*message, *again), "%s: JSON round trip differs:\n%s",
             Name(*message), printed.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cli::CaptureRuntimeLog();  // as the tool does
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto& types = gcuproto_test::AllMessageTypes();
  const std::uint8_t path = data[0];
  std::unique_ptr<Message> message(google::protobuf::MessageFactory::generated_factory()
                                       ->GetPrototype(types[data[1] % types.size()])
                                       ->New());
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  const bool one_line = (path & 0x08) != 0;
  switch (path & 7) {
    case 0:
    case 1:
      CheckHex(text, message.get());
      break;
    case 2:
      CheckBase64(text, message.get());
      break;
    case 3: {
      cli::Input input;
      input.bytes = std::string(text);
      CheckBinary(input, message.get());
      break;
    }
    case 4:
    case 5:
      CheckText(text, message.get(), one_line);
      break;
    default:
      CheckJson(text, message.get(), one_line);
      break;
  }
  cli::TakeRuntimeLog();
  return 0;
}
