// The command result code: declared values, their names and the range constants.
#include <gcuproto/CommandResult.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace {

TEST(CommandResultCodes, IsValidOnlyForDeclaredValues) {
  struct Case {
    int value;
    bool valid;
  };
  const Case cases[] = {
      {0, true},   {11, true},  {50, true},  {100, true}, {101, true},
      {-1, false}, {12, false}, {49, false}, {51, false}, {99, false}, {102, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(CommandResult_IsValid(c.value), c.valid);
  }
}

TEST(CommandResultCodes, RangeConstants) {
  EXPECT_EQ(CommandResult_MIN, ok);
  EXPECT_EQ(CommandResult_MAX, notSupported);
  EXPECT_EQ(CommandResult_ARRAYSIZE, 102);
}

// The enumerators are plain global names; their numbers and the descriptor's
// names and order must all agree with what the firmware sends.
TEST(CommandResultCodes, ValuesInDeclarationOrder) {
  struct Case {
    CommandResult value;
    int number;
    const char* name;
  };
  const Case cases[] = {
      {ok, 0, "ok"},
      {flashWriteError, 1, "flashWriteError"},
      {flashEraseError, 2, "flashEraseError"},
      {verifyError, 3, "verifyError"},
      {certificateError, 4, "certificateError"},
      {commandDecodeError, 5, "commandDecodeError"},
      {contentDecodeError, 6, "contentDecodeError"},
      {aesKeyError, 7, "aesKeyError"},
      {aesPublicKeyError, 8, "aesPublicKeyError"},
      {aesPrivateKeyError, 9, "aesPrivateKeyError"},
      {aesNotInitializedError, 10, "aesNotInitializedError"},
      {aesDecryptError, 11, "aesDecryptError"},
      {memoryError, 50, "memoryError"},
      {fatalError, 100, "fatalError"},
      {notSupported, 101, "notSupported"},
  };
  const google::protobuf::EnumDescriptor* descriptor = CommandResult_descriptor();
  ASSERT_EQ(descriptor->full_name(), "CommandResult");
  ASSERT_EQ(descriptor->file()->name(), "CommandResult.proto");
  ASSERT_EQ(descriptor->value_count(), static_cast<int>(std::size(cases)));
  for (int i = 0; i < descriptor->value_count(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(static_cast<int>(c.value), c.number);
    EXPECT_EQ(descriptor->value(i)->name(), c.name);
    EXPECT_EQ(descriptor->value(i)->number(), c.number);
    EXPECT_EQ(descriptor->value(i)->full_name(), c.name);  // no enum prefix, no package
  }
}

}  // namespace
