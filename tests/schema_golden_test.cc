// The whole schema as the library registers it, against tests/schema.txt: each
// file's descriptor in text format, one line for the file itself and one per
// top-level message or enum, in the library's file order. Any change to a
// name, number, type, label, oneof, import or order shows up as a changed line.
//
// After a deliberate schema change, regenerate the golden file and review the diff:
//   GCUPROTO_REGENERATE_SCHEMA=1 build/tests/gcuproto_tests --gtest_filter='Schema.*'
#include <gcuproto/library.h>
#include <gcuproto/version.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

std::string OneLine(const google::protobuf::Message& message) {
  google::protobuf::TextFormat::Printer printer;
  printer.SetSingleLineMode(true);
  std::string text;
  printer.PrintToString(message, &text);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return message.GetDescriptor()->name() + " { " + text + " }";
}

std::vector<std::string> SchemaLines() {
  std::vector<std::string> lines;
  for (const google::protobuf::FileDescriptor* file : gcuproto::schema_files()) {
    google::protobuf::FileDescriptorProto proto;
    file->CopyTo(&proto);
    google::protobuf::FileDescriptorProto header = proto;
    header.clear_message_type();
    header.clear_enum_type();
    lines.push_back(OneLine(header));
    for (const auto& message : proto.message_type()) lines.push_back("  " + OneLine(message));
    for (const auto& enumeration : proto.enum_type()) lines.push_back("  " + OneLine(enumeration));
  }
  return lines;
}

std::vector<std::string> GoldenLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

TEST(Schema, MatchesTheGoldenFile) {
  const std::vector<std::string> actual = SchemaLines();
  if (std::getenv("GCUPROTO_REGENERATE_SCHEMA") != nullptr) {
    std::string text =
        "# Every schema file's descriptor as the library registers it; see schema_golden_test.cc.\n"
        "# Regenerate: GCUPROTO_REGENERATE_SCHEMA=1 build/tests/gcuproto_tests "
        "--gtest_filter='Schema.*'\n";
    for (const std::string& line : actual) text += line + "\n";
    gcuproto_test::WriteFile(GCUPROTO_SCHEMA_GOLDEN, text);
  }
  const std::vector<std::string> golden =
      GoldenLines(gcuproto_test::ReadFile(GCUPROTO_SCHEMA_GOLDEN));
  ASSERT_FALSE(golden.empty()) << "cannot read " << GCUPROTO_SCHEMA_GOLDEN;
  for (std::size_t i = 0; i < std::max(actual.size(), golden.size()); ++i) {
    EXPECT_EQ(i < actual.size() ? actual[i] : "<missing>",
              i < golden.size() ? golden[i] : "<missing>")
        << "line " << i + 1 << " of the schema lines";
  }
}

TEST(Schema, FileNamesAreTheFilesInOrder) {
  std::vector<std::string> names;
  for (const auto* file : gcuproto::schema_files()) names.push_back(file->name());
  EXPECT_EQ(gcuproto::schema_file_names(), names);
}

TEST(Schema, VersionMatchesHeaders) { EXPECT_STREQ(gcuproto::version(), GCUPROTO_VERSION); }

}  // namespace
