#include "type_lookup.h"

#include <fmt/format.h>
#include <gcuproto/library.h>

#include <algorithm>
#include <cctype>
#include <tuple>

#include "errors.h"

namespace gcuproto::cli {

namespace pb = google::protobuf;

namespace {

bool in_schema_files(const pb::FileDescriptor* file) {
  const auto& files = schema_files();
  return std::find(files.begin(), files.end(), file) != files.end();
}

void collect_messages(const pb::Descriptor* type, std::vector<std::string>* names) {
  names->push_back(type->full_name());
  for (int i = 0; i < type->nested_type_count(); ++i) collect_messages(type->nested_type(i), names);
}

void collect_enums(const pb::Descriptor* type, std::vector<std::string>* names) {
  for (int i = 0; i < type->enum_type_count(); ++i) names->push_back(type->enum_type(i)->full_name());
  for (int i = 0; i < type->nested_type_count(); ++i) collect_enums(type->nested_type(i), names);
}

std::string lower(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

// Edit distance between names: no library at hand offers one.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

const std::vector<const pb::FileDescriptor*>& schema_files() {
  static const std::vector<const pb::FileDescriptor*> files = gcuproto::schema_files();
  return files;
}

std::vector<std::string> registered_message_names() {
  std::vector<std::string> names;
  for (const pb::FileDescriptor* file : schema_files()) {
    for (int i = 0; i < file->message_type_count(); ++i) collect_messages(file->message_type(i), &names);
  }
  return names;
}

std::vector<std::string> registered_enum_names() {
  std::vector<std::string> names;
  for (const pb::FileDescriptor* file : schema_files()) {
    for (int i = 0; i < file->enum_type_count(); ++i) names.push_back(file->enum_type(i)->full_name());
    for (int i = 0; i < file->message_type_count(); ++i) collect_enums(file->message_type(i), &names);
  }
  return names;
}

const pb::Descriptor* find_message(const std::string& name) {
  const pb::Descriptor* type = pb::DescriptorPool::generated_pool()->FindMessageTypeByName(name);
  return type != nullptr && in_schema_files(type->file()) ? type : nullptr;
}

const pb::EnumDescriptor* find_enum(const std::string& name) {
  const pb::EnumDescriptor* type = pb::DescriptorPool::generated_pool()->FindEnumTypeByName(name);
  return type != nullptr && in_schema_files(type->file()) ? type : nullptr;
}

const pb::Descriptor& require_message(const std::string& name) {
  if (const pb::Descriptor* type = find_message(name)) return *type;
  if (find_enum(name) != nullptr) {
    throw UsageError(fmt::format("'{}' is an enum, not a message type", name));
  }
  throw UsageError(unknown_name_message("message type", name, registered_message_names(), "gcuproto types"));
}

std::vector<std::string> nearest_names(const std::string& name,
                                       const std::vector<std::string>& candidates,
                                       std::size_t limit) {
  const std::string wanted = lower(name);
  const std::size_t max_edits = std::max<std::size_t>(2, wanted.size() / 3);
  std::vector<std::tuple<bool, std::size_t, std::string>> ranked;
  for (const std::string& candidate : candidates) {
    const std::string folded = lower(candidate);
    const bool contains = !wanted.empty() && folded.find(wanted) != std::string::npos;
    const std::size_t edits = edit_distance(wanted, folded);
    if (contains || edits <= max_edits) ranked.emplace_back(!contains, edits, candidate);
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> names;
  for (std::size_t i = 0; i < ranked.size() && i < limit; ++i) names.push_back(std::get<2>(ranked[i]));
  return names;
}

std::string unknown_name_message(const std::string& kind, const std::string& name,
                                 const std::vector<std::string>& candidates,
                                 const std::string& lister) {
  const std::vector<std::string> nearest = nearest_names(name, candidates);
  if (nearest.empty()) {
    return fmt::format("unknown {} '{}'; '{}' lists them", kind, name, lister);
  }
  return fmt::format("unknown {} '{}'; nearest: {}", kind, name, fmt::join(nearest, ", "));
}

}  // namespace gcuproto::cli
