// The exact-bytes vectors of wire_vectors.txt, one test per row: the message
// written in text format serialises to the canonical bytes, those bytes parse
// back to the same message, and the non-canonical input, where a row has one,
// parses to that message too and is written back canonically.
#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "random_message.h"
#include "scratch_dir.h"
#include "wire.h"

namespace {

namespace pb = google::protobuf;
using gcuproto_test::FromHex;
using gcuproto_test::Hex;

struct Vector {
  int line = 0;
  std::string type, text, canonical;  // canonical as hex
  std::vector<std::string> inputs;    // other inputs as hex
};

void PrintTo(const Vector& v, std::ostream* out) { *out << v.type << " line " << v.line; }

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Rows are "Type | text | canonical hex [| input hex]..."; "#" starts a comment line.
std::vector<Vector> Vectors() {
  std::vector<Vector> rows;
  std::istringstream in(gcuproto_test::ReadFile(GCUPROTO_WIRE_VECTORS));
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (Trim(line).empty() || Trim(line)[0] == '#') continue;
    std::vector<std::string> cells;
    for (std::size_t start = 0;;) {
      const auto bar = line.find(" | ", start);
      cells.push_back(Trim(line.substr(start, bar == std::string::npos ? bar : bar - start)));
      if (bar == std::string::npos) break;
      start = bar + 3;
    }
    cells.resize(std::max<std::size_t>(cells.size(), 3));
    rows.push_back({number, cells[0], cells[1], cells[2], {cells.begin() + 3, cells.end()}});
  }
  return rows;
}

std::unique_ptr<pb::Message> New(const std::string& type) {
  const pb::Descriptor* d = pb::DescriptorPool::generated_pool()->FindMessageTypeByName(type);
  return d == nullptr ? nullptr : gcuproto_test::NewMessage(d);
}

class WireVector : public testing::TestWithParam<Vector> {};

TEST_P(WireVector, BothDirections) {
  const Vector& v = GetParam();
  SCOPED_TRACE("wire_vectors.txt:" + std::to_string(v.line) + " " + v.type + " { " + v.text + " }");
  const auto expected = New(v.type);
  ASSERT_NE(expected, nullptr) << "no message type " << v.type;
  ASSERT_TRUE(pb::TextFormat::ParseFromString(v.text, expected.get()));
  const std::string canonical = FromHex(v.canonical);
  EXPECT_EQ(Hex(expected->SerializeAsString()), Hex(canonical));

  std::vector<std::string> inputs = v.inputs;
  inputs.insert(inputs.begin(), v.canonical);
  for (const std::string& hex : inputs) {
    const auto parsed = New(v.type);
    ASSERT_TRUE(parsed->ParseFromString(FromHex(hex))) << hex;
    std::string differences;
    pb::util::MessageDifferencer differencer;
    differencer.ReportDifferencesToString(&differences);
    EXPECT_TRUE(differencer.Compare(*expected, *parsed)) << hex << "\n" << differences;
    EXPECT_EQ(Hex(parsed->SerializeAsString()), Hex(canonical)) << "written back from " << hex;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, WireVector, testing::ValuesIn(Vectors()),
                         [](const testing::TestParamInfo<Vector>& info) {
                           return "line" + std::to_string(info.param.line) + "_" + info.param.type;
                         });

}  // namespace
