// The appending blackbox writer: files it writes read back line for line,
// appending keeps files valid, and a crash-cut tail does not swallow new lines.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/writer.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scratch_dir.h"
#include "wire.h"

namespace {

using gcuproto::blackbox::Error;
using gcuproto::blackbox::ErrorKind;
using gcuproto::blackbox::Reader;
using gcuproto::blackbox::RecordKind;
using gcuproto::blackbox::Writer;
using gcuproto::blackbox::WriterOptions;

class BlackboxWriter : public ::testing::Test {
 protected:
  std::string Contents() const { return gcuproto_test::ReadFile(path_); }
  void Replace(const std::string& bytes) const { gcuproto_test::WriteFile(path_, bytes); }
  std::unique_ptr<Writer> Open(bool append = true) {
    WriterOptions options;
    options.append = append;
    options.buffer_size = 16;  // small, so that flushes happen between lines
    Error error;
    auto writer = Writer::Open(path_, options, &error);
    EXPECT_NE(writer, nullptr) << error.message();
    return writer;
  }
  // Sequence numbers of all logger lines; -1 marks a CAN line.
  std::vector<int> ReadBack(bool* damaged = nullptr) const {
    Error error;
    auto reader = Reader::Open(path_, {}, &error);
    EXPECT_NE(reader, nullptr) << error.message();
    std::vector<int> seq;
    while (reader->Next()) {
      seq.push_back(reader->kind() == RecordKind::kLoggerLine
                        ? static_cast<int>(reader->logger_line().seqno())
                        : -1);
    }
    if (damaged) *damaged = reader->damage().has_value();
    return seq;
  }

  static BlackboxFileLine Line(std::uint32_t seq) {
    BlackboxFileLine line;
    line.set_seqno(seq);
    line.add_datainput(-1);
    line.add_datainput(1);
    return line;
  }

  gcuproto_test::ScratchDir dir_{"gcuproto_writer"};
  const std::string path_ = (dir_ / "log.bin").string();
};

TEST_F(BlackboxWriter, WritesTheRecordsOfAWholeFile) {
  BlackboxFileLine line;
  line.set_seqno(1);
  line.set_timestamp(2);
  line.add_datainput(-1);
  line.add_datainput(1);
  BlackboxCandumpFileLine can;
  can.set_canid(0x123);
  auto writer = Open(false);
  ASSERT_TRUE(writer->Write(line));
  ASSERT_TRUE(writer->Write(can));
  ASSERT_TRUE(writer->WriteRaw(RecordKind::kLoggerLine, ""));
  ASSERT_TRUE(writer->Close());
  EXPECT_EQ(
      gcuproto_test::Hex(Contents()),
      gcuproto_test::Hex(gcuproto_test::Bytes({0x52, 0x08, 0x08, 0x01, 0x12, 0x02, 0x01, 0x02, 0x18,
                                               0x02, 0x5A, 0x03, 0x18, 0xA3, 0x02, 0x52, 0x00})));
}

TEST_F(BlackboxWriter, AppendReopenAppend) {
  {
    auto writer = Open(false);
    for (std::uint32_t i = 1; i <= 3; ++i) ASSERT_TRUE(writer->Write(Line(i)));
    ASSERT_TRUE(writer->Sync());
  }
  {
    auto writer = Open();
    EXPECT_EQ(writer->dropped_tail_bytes(), 0u);
    ASSERT_TRUE(writer->Write(BlackboxCandumpFileLine()));
    ASSERT_TRUE(writer->Write(Line(4)));
  }
  {
    auto writer = Open();
    ASSERT_TRUE(writer->Write(Line(5)));
    ASSERT_TRUE(writer->Close());
    Error error;
    EXPECT_DEBUG_DEATH(EXPECT_FALSE(writer->Write(Line(6), &error)), "after Close");
#ifdef NDEBUG
    EXPECT_EQ(error.kind(), ErrorKind::kInvalidArgument);
#endif
  }
  bool damaged = true;
  EXPECT_EQ(ReadBack(&damaged), (std::vector<int>{1, 2, 3, -1, 4, 5}));
  EXPECT_FALSE(damaged);
}

TEST_F(BlackboxWriter, CutShortTailIsRemovedBeforeAppending) {
  {
    auto writer = Open(false);
    ASSERT_TRUE(writer->Write(Line(1)));
    ASSERT_TRUE(writer->Write(Line(2)));
  }
  const std::string whole = Contents();
  Replace(whole.substr(0, whole.size() - 2));  // a crash inside the second line
  {
    auto writer = Open();
    EXPECT_EQ(writer->dropped_tail_bytes(), whole.size() / 2 - 2);
    ASSERT_TRUE(writer->Write(Line(3)));
  }
  bool damaged = true;
  EXPECT_EQ(ReadBack(&damaged), (std::vector<int>{1, 3}));
  EXPECT_FALSE(damaged);
}

TEST_F(BlackboxWriter, OtherDamageRefusesToAppend) {
  Replace(gcuproto_test::Bytes({0x52, 0x02, 0x08, 0x01, 0x07, 0x52, 0x00}));
  WriterOptions options;
  Error error;
  EXPECT_EQ(Writer::Open(path_, options, &error), nullptr);
  EXPECT_EQ(error.kind(), ErrorKind::kDamaged);
  EXPECT_EQ(error.offset(), 4u);
  EXPECT_EQ(error.message(),
            path_ + ": damaged at byte 4 (invalid record key 7); recover it before appending");
  EXPECT_EQ(Contents().size(), 7u);  // untouched
}

TEST_F(BlackboxWriter, UnopenableFileIsAnError) {
  Error error;
  EXPECT_EQ(Writer::Open("/nonexistent-dir/x.bbx", WriterOptions(), &error), nullptr);
  EXPECT_EQ(error.kind(), ErrorKind::kIo);
  EXPECT_EQ(error.message(), "/nonexistent-dir/x.bbx: No such file or directory");
}

TEST_F(BlackboxWriter, FileCutAtAnyByteLosesOnlyTheRecordCut) {
  {
    auto writer = Open(false);
    for (std::uint32_t i = 1; i <= 4; ++i) ASSERT_TRUE(writer->Write(Line(i)));
  }
  const std::string whole = Contents();
  const std::size_t record = whole.size() / 4;
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    Replace(whole.substr(0, cut));
    std::vector<int> expected;
    for (std::size_t i = 1; i <= cut / record; ++i) expected.push_back(static_cast<int>(i));
    EXPECT_EQ(ReadBack(), expected);
  }
}

}  // namespace
