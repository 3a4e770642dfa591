// gcuproto types [NAME]: what the library's schema files declare, read from
// the runtime's descriptors.
#include <fmt/format.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "commands.h"
#include "errors.h"
#include "output.h"
#include "table.h"
#include "type_lookup.h"

namespace gcuproto::cli {

namespace pb = google::protobuf;

namespace {

void ListNested(const pb::Descriptor& type, Table* table) {
  for (int i = 0; i < type.enum_type_count(); ++i)
    table->AddRow({"enum", type.enum_type(i)->full_name()});
  for (int i = 0; i < type.nested_type_count(); ++i) {
    const pb::Descriptor& nested = *type.nested_type(i);
    if (nested.options().map_entry()) continue;
    table->AddRow({"message", nested.full_name()});
    ListNested(nested, table);
  }
}

std::string ListTypes() {
  std::string text;
  for (const pb::FileDescriptor* file : SchemaFiles()) {
    Table table;
    for (int i = 0; i < file->enum_type_count(); ++i)
      table.AddRow({"enum", file->enum_type(i)->full_name()});
    for (int i = 0; i < file->message_type_count(); ++i) {
      table.AddRow({"message", file->message_type(i)->full_name()});
      ListNested(*file->message_type(i), &table);
    }
    text += file->name() + "\n" + table.Render("  ");
  }
  text += fmt::format("{} schema files, {} messages, {} enums\n", SchemaFiles().size(),
                      RegisteredMessageNames().size(), RegisteredEnumNames().size());
  return text;
}

std::string TypeOf(const pb::FieldDescriptor& field) {
  if (field.is_map()) {
    return fmt::format("map<{}, {}>", TypeOf(*field.message_type()->map_key()),
                       TypeOf(*field.message_type()->map_value()));
  }
  if (field.message_type() != nullptr) return field.message_type()->full_name();
  if (field.enum_type() != nullptr) return field.enum_type()->full_name();
  return field.type_name();
}

std::string LabelOf(const pb::FieldDescriptor& field) {
  if (field.is_map()) return "map";
  if (!field.is_repeated()) return "singular";
  return field.is_packed() ? "repeated packed" : "repeated";
}

std::string DescribeMessage(const pb::Descriptor& type) {
  Table table({0});
  table.AddRow({"number", "name", "type", "label", "oneof"});
  for (int i = 0; i < type.field_count(); ++i) {
    const pb::FieldDescriptor& field = *type.field(i);
    const pb::OneofDescriptor* oneof = field.real_containing_oneof();
    table.AddRow({std::to_string(field.number()), field.name(), TypeOf(field), LabelOf(field),
                  oneof != nullptr ? oneof->name() : ""});
  }
  std::string text = fmt::format("message {} ({})\n", type.full_name(), type.file()->name());
  if (type.field_count() == 0) return text + "  no fields\n";
  return text + table.Render("  ");
}

std::string DescribeEnum(const pb::EnumDescriptor& type) {
  Table table({0});
  table.AddRow({"number", "name"});
  for (int i = 0; i < type.value_count(); ++i) {
    table.AddRow({std::to_string(type.value(i)->number()), type.value(i)->name()});
  }
  return fmt::format("enum {} ({})\n", type.full_name(), type.file()->name()) + table.Render("  ");
}

std::string Describe(const std::string& name) {
  if (const pb::Descriptor* type = FindMessage(name)) return DescribeMessage(*type);
  if (const pb::EnumDescriptor* type = FindEnum(name)) return DescribeEnum(*type);
  std::vector<std::string> names = RegisteredMessageNames();
  const std::vector<std::string> enums = RegisteredEnumNames();
  names.insert(names.end(), enums.begin(), enums.end());
  throw UsageError(UnknownNameMessage("message or enum", name, names, "gcuproto types"));
}

}  // namespace

void AddTypesCommand(CLI::App& app) {
  auto name = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(
      "types",
      "List the registered messages and enums, or show one message's fields or enum's values");
  command->add_option("NAME", *name,
                      "a message or enum, e.g. Command or GetSerialNumberResp.DeviceMode");
  command->footer(
      "Without NAME: each schema file with its messages and enums. With NAME: a message's\n"
      "fields (number, name, type, label, oneof) or an enum's values.\n\n"
      "Examples:\n"
      "  gcuproto types                  every file, message and enum\n"
      "  gcuproto types Command          the fields of Command\n"
      "  gcuproto types CommandResult    the values of CommandResult");
  command->callback([name] { WriteOutput("", name->empty() ? ListTypes() : Describe(*name)); });
}

}  // namespace gcuproto::cli
