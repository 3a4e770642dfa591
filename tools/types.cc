// gcuproto types [NAME]: what the library's schema files declare, read from
// the runtime's descriptors.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>

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

void list_nested(const pb::Descriptor& type, Table* table) {
  for (int i = 0; i < type.enum_type_count(); ++i) table->add_row({"enum", type.enum_type(i)->full_name()});
  for (int i = 0; i < type.nested_type_count(); ++i) {
    const pb::Descriptor& nested = *type.nested_type(i);
    if (nested.options().map_entry()) continue;
    table->add_row({"message", nested.full_name()});
    list_nested(nested, table);
  }
}

std::string list_types() {
  std::string text;
  for (const pb::FileDescriptor* file : schema_files()) {
    Table table;
    for (int i = 0; i < file->enum_type_count(); ++i) table.add_row({"enum", file->enum_type(i)->full_name()});
    for (int i = 0; i < file->message_type_count(); ++i) {
      table.add_row({"message", file->message_type(i)->full_name()});
      list_nested(*file->message_type(i), &table);
    }
    text += file->name() + "\n" + table.render("  ");
  }
  text += fmt::format("{} schema files, {} messages, {} enums\n", schema_files().size(),
                      registered_message_names().size(), registered_enum_names().size());
  return text;
}

std::string type_of(const pb::FieldDescriptor& field) {
  if (field.is_map()) {
    return fmt::format("map<{}, {}>", type_of(*field.message_type()->map_key()),
                       type_of(*field.message_type()->map_value()));
  }
  if (field.message_type() != nullptr) return field.message_type()->full_name();
  if (field.enum_type() != nullptr) return field.enum_type()->full_name();
  return field.type_name();
}

std::string label_of(const pb::FieldDescriptor& field) {
  if (field.is_map()) return "map";
  if (!field.is_repeated()) return "singular";
  return field.is_packed() ? "repeated packed" : "repeated";
}

std::string describe_message(const pb::Descriptor& type) {
  Table table({0});
  table.add_row({"number", "name", "type", "label", "oneof"});
  for (int i = 0; i < type.field_count(); ++i) {
    const pb::FieldDescriptor& field = *type.field(i);
    const pb::OneofDescriptor* oneof = field.real_containing_oneof();
    table.add_row({std::to_string(field.number()), field.name(), type_of(field), label_of(field),
                   oneof != nullptr ? oneof->name() : ""});
  }
  std::string text = fmt::format("message {} ({})\n", type.full_name(), type.file()->name());
  if (type.field_count() == 0) return text + "  no fields\n";
  return text + table.render("  ");
}

std::string describe_enum(const pb::EnumDescriptor& type) {
  Table table({0});
  table.add_row({"number", "name"});
  for (int i = 0; i < type.value_count(); ++i) {
    table.add_row({std::to_string(type.value(i)->number()), type.value(i)->name()});
  }
  return fmt::format("enum {} ({})\n", type.full_name(), type.file()->name()) + table.render("  ");
}

std::string describe(const std::string& name) {
  if (const pb::Descriptor* type = find_message(name)) return describe_message(*type);
  if (const pb::EnumDescriptor* type = find_enum(name)) return describe_enum(*type);
  std::vector<std::string> names = registered_message_names();
  const std::vector<std::string> enums = registered_enum_names();
  names.insert(names.end(), enums.begin(), enums.end());
  throw UsageError(unknown_name_message("message or enum", name, names, "gcuproto types"));
}

}  // namespace

void add_types_command(CLI::App& app) {
  auto name = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(
      "types", "List the registered messages and enums, or show one message's fields or enum's values");
  command->add_option("NAME", *name, "a message or enum, e.g. Command or GetSerialNumberResp.DeviceMode");
  command->footer(
      "Without NAME: each schema file with its messages and enums. With NAME: a message's\n"
      "fields (number, name, type, label, oneof) or an enum's values.\n\n"
      "Examples:\n"
      "  gcuproto types                  every file, message and enum\n"
      "  gcuproto types Command          the fields of Command\n"
      "  gcuproto types CommandResult    the values of CommandResult");
  command->callback([name] { write_output("", name->empty() ? list_types() : describe(*name)); });
}

}  // namespace gcuproto::cli
