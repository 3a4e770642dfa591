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

bool InSchemaFiles(const pb::FileDescriptor* file) {
  const auto& files = SchemaFiles();
  return std::find(files.begin(), files.end(), file) != files.end();
}

void CollectMessages(const pb::Descriptor* type, std::vector<std::string>* names) {
  names->push_back(type->full_name());
  for (int i = 0; i < type->nested_type_count(); ++i) CollectMessages(type->nested_type(i), names);
}

void CollectEnums(const pb::Descriptor* type, std::vector<std::string>* names) {
  for (int i = 0; i < type->enum_type_count(); ++i)
    names->push_back(type->enum_type(i)->full_name());
  for (int i = 0; i < type->nested_type_count(); ++i) CollectEnums(type->nested_type(i), names);
}

std::string Lower(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

// Edit distance between names: no library at hand offers one.
std::size_t EditDistance(const std::string& a, const std::string& b) {
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

const std::vector<const pb::FileDescriptor*>& SchemaFiles() {
  static const std::vector<const pb::FileDescriptor*> files = gcuproto::schema_files();
  return files;
}

std::vector<std::string> RegisteredMessageNames() {
  std::vector<std::string> names;
  for (const pb::FileDescriptor* file : SchemaFiles()) {
    for (int i = 0; i < file->message_type_count(); ++i)
      CollectMessages(file->message_type(i), &names);
  }
  return names;
}

std::vector<std::string> RegisteredEnumNames() {
  std::vector<std::string> names;
  for (const pb::FileDescriptor* file : SchemaFiles()) {
    for (int i = 0; i < file->enum_type_count(); ++i)
      names.push_back(file->enum_type(i)->full_name());
    for (int i = 0; i < file->message_type_count(); ++i)
      CollectEnums(file->message_type(i), &names);
  }
  return names;
}

const pb::Descriptor* FindMessage(const std::string& name) {
  const pb::Descriptor* type = pb::DescriptorPool::generated_pool()->FindMessageTypeByName(name);
  return type != nullptr && InSchemaFiles(type->file()) ? type : nullptr;
}

const pb::EnumDescriptor* FindEnum(const std::string& name) {
  const pb::EnumDescriptor* type = pb::DescriptorPool::generated_pool()->FindEnumTypeByName(name);
  return type != nullptr && InSchemaFiles(type->file()) ? type : nullptr;
}

const pb::Descriptor& RequireMessage(const std::string& name) {
  if (const pb::Descriptor* type = FindMessage(name)) return *type;
  if (FindEnum(name) != nullptr) {
    throw UsageError(fmt::format("'{}' is an enum, not a message type", name));
  }
  throw UsageError(
      UnknownNameMessage("message type", name, RegisteredMessageNames(), "gcuproto types"));
}

std::vector<std::string> NearestNames(const std::string& name,
                                      const std::vector<std::string>& candidates,
                                      std::size_t limit) {
  const std::string wanted = Lower(name);
  const std::size_t max_edits = std::max<std::size_t>(2, wanted.size() / 3);
  std::vector<std::tuple<bool, std::size_t, std::string>> ranked;
  for (const std::string& candidate : candidates) {
    const std::string folded = Lower(candidate);
    const bool contains = !wanted.empty() && folded.find(wanted) != std::string::npos;
    const std::size_t edits = EditDistance(wanted, folded);
    if (contains || edits <= max_edits) ranked.emplace_back(!contains, edits, candidate);
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> names;
  for (std::size_t i = 0; i < ranked.size() && i < limit; ++i)
    names.push_back(std::get<2>(ranked[i]));
  return names;
}

std::string UnknownNameMessage(const std::string& kind, const std::string& name,
                               const std::vector<std::string>& candidates,
                               const std::string& lister) {
  const std::vector<std::string> nearest = NearestNames(name, candidates);
  if (nearest.empty()) {
    return fmt::format("unknown {} '{}'; '{}' lists them", kind, name, lister);
  }
  return fmt::format("unknown {} '{}'; nearest: {}", kind, name, fmt::join(nearest, ", "));
}

}  // namespace gcuproto::cli
