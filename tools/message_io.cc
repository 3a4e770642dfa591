#include "message_io.h"

#include <fmt/format.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>

#include <optional>
#include <vector>

#include "errors.h"
#include "json_locate.h"
#include "runtime_log.h"
#include "wire_walk.h"

namespace gcuproto::cli {

namespace pb = google::protobuf;

namespace {

// Keeps the first error of a text-format parse with its place.
class FirstErrorCollector : public pb::io::ErrorCollector {
 public:
  void AddError(int line, pb::io::ColumnNumber column, const std::string& message) override {
    if (error_) return;
    error_ = Error{line, column, message};
  }

  struct Error {
    int line;  // 0-based; negative when the error has no place
    pb::io::ColumnNumber column;
    std::string message;
  };
  const std::optional<Error>& error() const { return error_; }

 private:
  std::optional<Error> error_;
};

std::string TrimTrailingSpace(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

// "String field 'FatalError.message' contains invalid UTF-8 data when
// serializing..." becomes "field FatalError.message holds text that is not
// valid UTF-8"; other runtime messages are passed on as they are.
std::string DescribeRuntimeFault(const std::string& logged) {
  const std::string prefix = "String field '";
  if (logged.compare(0, prefix.size(), prefix) == 0) {
    const std::size_t end = logged.find('\'', prefix.size());
    if (end != std::string::npos) {
      return fmt::format("field {} holds text that is not valid UTF-8",
                         logged.substr(prefix.size(), end - prefix.size()));
    }
  }
  return TrimTrailingSpace(logged);
}

}  // namespace

bool HasUnknownFields(const pb::Message& message) {
  std::unique_ptr<pb::Message> known(message.New());
  known->CopyFrom(message);
  known->DiscardUnknownFields();
  return known->ByteSizeLong() != message.ByteSizeLong();
}

std::unique_ptr<pb::Message> NewMessage(const pb::Descriptor& type) {
  return std::unique_ptr<pb::Message>(
      pb::MessageFactory::generated_factory()->GetPrototype(&type)->New());
}

void ParseBinary(const Input& input, pb::Message* message) {
  TakeRuntimeLog();
  const bool parsed = message->ParseFromString(input.bytes);
  TakeRuntimeLog();  // the UTF-8 complaint; the wire walk names the field
  if (parsed) return;
  const pb::Descriptor* type = message->GetDescriptor();
  std::string where;
  if (const std::optional<WireBreak> fault = FindWireBreak(input.bytes, type)) {
    where = fmt::format(": at byte offset {}, {}", fault->offset, fault->what);
  }
  throw InputError(
      fmt::format("{} does not parse as {}{}", input.Describe(), type->full_name(), where));
}

std::string Serialize(const pb::Message& message) {
  TakeRuntimeLog();
  std::string bytes;
  const bool serialized = message.SerializeToString(&bytes);
  const std::vector<std::string> logged = TakeRuntimeLog();
  if (!logged.empty()) {
    throw InputError(fmt::format("cannot encode {}: {}", message.GetTypeName(),
                                 DescribeRuntimeFault(logged.front())));
  }
  if (!serialized) {
    throw InputError(fmt::format("cannot encode {}: it exceeds 2 GiB", message.GetTypeName()));
  }
  return bytes;
}

std::string PrintText(const pb::Message& message, bool one_line) {
  pb::TextFormat::Printer printer;
  printer.SetUseUtf8StringEscaping(true);
  printer.SetSingleLineMode(one_line);
  std::string text;
  printer.PrintToString(message, &text);
  return one_line ? TrimTrailingSpace(std::move(text)) + "\n" : text;
}

std::string PrintUnknownFields(const pb::UnknownFieldSet& fields, bool one_line) {
  pb::TextFormat::Printer printer;
  printer.SetSingleLineMode(one_line);
  std::string text;
  printer.PrintUnknownFieldsToString(fields, &text);
  return one_line ? TrimTrailingSpace(std::move(text)) + "\n" : text;
}

std::string PrintJson(const pb::Message& message, bool one_line, const std::string& source) {
  if (HasUnknownFields(message)) {
    throw InputError(fmt::format(
        "{} holds fields that {} does not declare, which JSON cannot show; the text output "
        "shows them by number",
        source, message.GetTypeName()));
  }
  pb::util::JsonPrintOptions options;
  options.add_whitespace = !one_line;
  options.preserve_proto_field_names = true;
  std::string json;
  const pb::util::Status status = pb::util::MessageToJsonString(message, &json, options);
  if (!status.ok()) {
    throw InputError(fmt::format("{}: cannot print {} as JSON: {}", source, message.GetTypeName(),
                                 std::string(status.message())));
  }
  return TrimTrailingSpace(std::move(json)) + "\n";
}

void ParseText(std::string_view text, const std::string& name, pb::Message* message) {
  FirstErrorCollector errors;
  pb::TextFormat::Parser parser;
  parser.RecordErrorsTo(&errors);
  if (parser.ParseFromString(std::string(text), message)) return;
  const std::string type = message->GetTypeName();
  if (!errors.error() || errors.error()->line < 0) {
    const std::string what = errors.error() ? errors.error()->message : "not valid text format";
    throw InputError(fmt::format("{}: {} (reading {} from text format)", name, what, type));
  }
  const auto& error = *errors.error();
  throw InputError(fmt::format("{}:{}:{}: {} (reading {} from text format)", name, error.line + 1,
                               error.column + 1, error.message, type));
}

void ParseJson(std::string_view text, const std::string& name, pb::Message* message) {
  pb::util::JsonParseOptions options;
  const pb::util::Status status =
      pb::util::JsonStringToMessage(pb::StringPiece(text.data(), text.size()), message, options);
  if (status.ok()) return;
  const std::string type = message->GetTypeName();
  const std::string_view status_message(status.message().data(), status.message().size());
  const JsonFault fault = LocateJsonFault(text, *message->GetDescriptor(), status_message);
  if (!fault.offset) {
    throw InputError(fmt::format("{}: {} (reading {} from JSON)", name, fault.what, type));
  }
  const TextPosition at = PositionInText(text, *fault.offset);
  throw InputError(fmt::format("{}:{}:{}: {} (reading {} from JSON)", name, at.line, at.column,
                               fault.what, type));
}

}  // namespace gcuproto::cli
