// Writes raw seed inputs for the fuzzers; fuzz/make-corpus merges them into
// the committed corpora, keeping only inputs that add coverage.
//
//   gcuproto_fuzz_seeds OUT_DIR FILE...
//
// Each FILE is a test source (.cc, .h), whose Bytes({...}) vectors are taken,
// or a sample file: wire bytes (.bin), a hex dump (.hex) or text format
// (.txt). A vector becomes a message seed for every type that reads it
// without unknown fields, and a blackbox seed when it reads as a
// BlackboxFile. The tool's input fuzzer gets the samples' text and the
// random messages of every type as hex, base64, text format and JSON.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/codec/base64.h>
#include <gcuproto/codec/hex.h>
#include <google/protobuf/message.h>
#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/json_util.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "random_message.h"

namespace {

namespace fs = std::filesystem;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// The byte lists of Bytes({0x08, 1, ...}) in a test source; lists with
// anything but integer literals are skipped.
std::vector<std::string> ByteVectors(const std::string& source) {
  std::vector<std::string> vectors;
  const std::string open = "Bytes({";
  for (auto at = source.find(open); at != std::string::npos; at = source.find(open, at)) {
    at += open.size();
    const auto close = source.find("})", at);
    if (close == std::string::npos) break;
    std::string bytes;
    bool literal = true;
    std::size_t pos = at;
    while (literal && pos < close) {
      while (pos < close && std::isspace(static_cast<unsigned char>(source[pos]))) ++pos;
      if (pos == close) break;
      const std::string rest = source.substr(pos, close - pos);
      char* end = nullptr;
      const long value = std::strtol(rest.c_str(), &end, 0);
      const auto used = static_cast<std::size_t>(end - rest.c_str());
      literal = used > 0 && value >= 0 && value <= 255;
      bytes.push_back(static_cast<char>(value));
      pos += used;
      while (pos < close && std::isspace(static_cast<unsigned char>(source[pos]))) ++pos;
      if (pos < close && source[pos] == ',')
        ++pos;
      else if (pos < close)
        literal = false;
    }
    if (literal && !bytes.empty()) vectors.push_back(bytes);
    at = close;
  }
  return vectors;
}

bool HasUnknownFields(const Message& message) {
  const auto* reflection = message.GetReflection();
  if (!reflection->GetUnknownFields(message).empty()) return true;
  std::vector<const FieldDescriptor*> fields;
  reflection->ListFields(message, &fields);
  for (const auto* field : fields) {
    if (field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) continue;
    if (field->is_repeated()) {
      for (int i = 0; i < reflection->FieldSize(message, field); ++i) {
        if (HasUnknownFields(reflection->GetRepeatedMessage(message, field, i))) return true;
      }
    } else if (HasUnknownFields(reflection->GetMessage(message, field))) {
      return true;
    }
  }
  return false;
}

std::unique_ptr<Message> NewMessage(const google::protobuf::Descriptor* type) {
  return std::unique_ptr<Message>(
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(type)->New());
}

// The blackbox targets' first byte picks how the file is read, exported or
// counted; each file goes in with a few of those choices.
int WriteSeeds(const fs::path& dir, const std::string& stem, const std::vector<std::uint8_t>& modes,
               const std::string& file) {
  for (const std::uint8_t mode : modes) {
    WriteFile(dir / (stem + "-m" + std::to_string(mode)),
              std::string(1, static_cast<char>(mode)) + file);
  }
  return static_cast<int>(modes.size());
}

// Every blackbox target's seeds for one file.
int WriteBlackboxSeeds(const fs::path& out, const std::string& stem, const std::string& file) {
  int seeds = WriteSeeds(out / "blackbox", stem, {0x00, 0x03, 0x07, 0x08, 0x12, 0x25}, file);
  // Formats and options: CSV, JSON lines, candump, CAN CSV; time, source,
  // channels, few columns, scales, decoding.
  seeds += WriteSeeds(out / "blackbox_export", stem,
                      {0x00, 0x01, 0x02, 0x03, 0x0C, 0x1D, 0x26, 0x47, 0x8C, 0xC1}, file);
  // Encoded or decoded, canId or messageId, a small memory limit.
  seeds += WriteSeeds(out / "blackbox_stats", stem, {0x00, 0x09, 0x02}, file);
  // Chunk sizes, no decoding, resync, a handler, a small line limit.
  seeds += WriteSeeds(out / "blackbox_sources", stem, {0x00, 0x0B, 0x11, 0x42, 0x87}, file);
  // Follow mode: the file arrives in two parts, split in its middle.
  const std::size_t half = file.size() / 2;
  const std::string split{static_cast<char>(half & 0xFF), static_cast<char>(half >> 8)};
  seeds += WriteSeeds(out / "blackbox_sources", stem + "-follow", {0x20, 0x34}, split + file);
  // The writer appends to the file, whole and cut short, then writes a line
  // of each kind, flushes, reopens and cuts.
  if (file.size() < 0x10000) {
    // Op bytes, each followed by what it takes: a logger line (shape, number),
    // a CAN line (shape, number, time, id, two data bytes), a flush, a raw
    // line, a reopen, a cut of one byte, another flush, a logger line with three
    // samples, a fresh open and a CAN line.
    const std::string program =
        std::string("\x00\x01\x05\x02\x07\x01\x00\x10\x00\x00\x00\x23\x01\x02", 14) +
        "ab\x04\x03\x02\x08\x07\x05\x06\x01" +
        std::string("\x00\x0C\x00\x31\x09\x10\x20\x30\x07\x02\x00\x00", 12);
    for (const std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
      if (cut > file.size()) continue;
      const std::size_t size = file.size() - cut;
      const std::string existing =
          std::string{static_cast<char>(size & 0xFF), static_cast<char>(size >> 8)} +
          file.substr(0, size);
      seeds += WriteSeeds(out / "blackbox_writer", stem + "-cut" + std::to_string(cut),
                          {0x80, 0x83, 0x86}, existing + program);
    }
  }
  return seeds;
}

// The tool's input fuzzer reads its path from the first byte and the type
// from the second.
enum ToolPath : std::uint8_t { kHex = 0, kBase64 = 2, kBinary = 3, kText = 4, kJson = 6 };

void WriteToolSeed(const fs::path& path, ToolPath tool_path, std::size_t type,
                   const std::string& text) {
  WriteFile(path, std::string{static_cast<char>(tool_path), static_cast<char>(type)} + text);
}

// Sixteen bytes to a line: wrapped hex, which the tool reads as one message.
std::string Hex(const std::string& bytes) {
  return gcuproto::codec::EncodeHex(bytes, gcuproto::codec::HexCase::kLower, ' ', 16);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: gcuproto_fuzz_seeds OUT_DIR FILE...\n";
    return 2;
  }
  google::protobuf::SetLogHandler(nullptr);  // test vectors with invalid UTF-8 are expected
  const fs::path out = argv[1];
  fs::create_directories(out / "messages");
  for (const char* target :
       {"blackbox", "blackbox_export", "blackbox_stats", "blackbox_sources", "blackbox_writer"}) {
    fs::create_directories(out / target);
  }
  fs::create_directories(out / "tool_input");
  const auto& types = gcuproto_test::AllMessageTypes();
  int tool_seeds = 0;

  std::vector<std::string> vectors;
  for (int i = 2; i < argc; ++i) {
    const fs::path path = argv[i];
    const std::string content = ReadFile(path);
    const auto ext = path.extension();
    if (ext == ".cc" || ext == ".h") {
      const auto found = ByteVectors(content);
      vectors.insert(vectors.end(), found.begin(), found.end());
    } else if (ext == ".hex") {
      std::string bytes;
      gcuproto::codec::HexError error;
      if (!gcuproto::codec::DecodeHex(content, &bytes, &error)) {
        std::cerr << path.string() << ": not hex at byte " << error.at << ", left out\n";
        continue;
      }
      vectors.push_back(bytes);
      for (std::size_t t = 0; t < types.size(); ++t) {
        auto message = NewMessage(types[t]);
        if (!message->ParseFromString(vectors.back()) || HasUnknownFields(*message)) continue;
        WriteToolSeed(out / "tool_input" / (path.filename().string() + "-" + types[t]->full_name()),
                      kHex, t, content);
        ++tool_seeds;
      }
    } else if (ext == ".txt") {
      for (std::size_t t = 0; t < types.size(); ++t) {
        auto message = NewMessage(types[t]);
        if (!google::protobuf::TextFormat::ParseFromString(content, message.get())) continue;
        WriteToolSeed(out / "tool_input" / (path.filename().string() + "-" + types[t]->full_name()),
                      kText, t, content);
        ++tool_seeds;
      }
    } else {
      vectors.push_back(content);
    }
  }

  int message_seeds = 0;
  int blackbox_seeds = 0;
  for (std::size_t v = 0; v < vectors.size(); ++v) {
    for (std::size_t t = 0; t < types.size(); ++t) {
      auto message = NewMessage(types[t]);
      if (!message->ParseFromString(vectors[v]) || HasUnknownFields(*message)) continue;
      WriteFile(out / "messages" / (types[t]->full_name() + "-v" + std::to_string(v)),
                std::string(1, static_cast<char>(t)) + vectors[v]);
      ++message_seeds;
    }
    BlackboxFile file;
    if (file.ParseFromString(vectors[v]) && file.line_size() + file.linecan_size() > 0) {
      blackbox_seeds += WriteBlackboxSeeds(out, "v" + std::to_string(v), vectors[v]);
    }
  }

  gcuproto_test::RandomMessageFiller filler(1);
  for (std::size_t t = 0; t < types.size(); ++t) {
    // Enough messages that each member of a oneof is likely set in one.
    int widest = 0;
    for (int i = 0; i < types[t]->oneof_decl_count(); ++i) {
      widest = std::max(widest, types[t]->oneof_decl(i)->field_count());
    }
    for (int k = 0; k < 4 + 3 * widest; ++k) {
      auto message = NewMessage(types[t]);
      filler.Fill(message.get());
      const std::string name = types[t]->full_name() + "-r" + std::to_string(k);
      const std::string bytes = message->SerializeAsString();
      WriteFile(out / "messages" / name, std::string(1, static_cast<char>(t)) + bytes);
      ++message_seeds;
      // The tool's readers go through the same message code; one message of
      // each type is enough to start them on every type.
      if (k > 0) continue;
      // The readable forms carry no unknown fields.
      message->DiscardUnknownFields();
      std::string text;
      google::protobuf::TextFormat::PrintToString(*message, &text);
      std::string json;
      (void)google::protobuf::util::MessageToJsonString(*message, &json);
      WriteToolSeed(out / "tool_input" / (name + ".hex"), kHex, t, Hex(bytes));
      WriteToolSeed(out / "tool_input" / (name + ".b64"), kBase64, t,
                    gcuproto::codec::EncodeBase64(bytes) + "\n");
      WriteToolSeed(out / "tool_input" / (name + ".bin"), kBinary, t, bytes);
      WriteToolSeed(out / "tool_input" / (name + ".txt"), kText, t, text);
      WriteToolSeed(out / "tool_input" / (name + ".json"), kJson, t, json);
      tool_seeds += 5;
    }
  }
  for (int k = 0; k < 8; ++k) {
    BlackboxFile file;
    filler.Fill(&file);
    blackbox_seeds += WriteBlackboxSeeds(out, "r" + std::to_string(k), file.SerializeAsString());
  }
  // The statistics' programs of runs: long runs of consecutive numbers fill
  // the number sets' blocks until their lists become bitmaps; scattered and
  // repeated ones, and many CAN ids, in either memory limit.
  // Each run: kind and shape, first number, count, step, first time stamp,
  // tick, CAN id.
  const std::string kRun1 = std::string("\x40\x00\x00\xFF\x01\x00\x01\x00\x00", 9);  // 0..4080
  const std::string kRun2 =
      std::string("\x43\x10\x00\xFF\x03\x00\x85\x00\x07", 9);  // every third, ids up
  const std::string kRun3 =
      std::string("\x45\xFF\xFF\xC0\x00\x00\x02\x00\x00", 9);  // one number repeated
  const std::string kRun4 =
      std::string("\xC8\x00\xFF\x00\x00\xFF\x01\x40\x02\x00\x00", 11);  // across blocks
  const std::vector<std::string> programs = {kRun1, kRun2, kRun3, kRun4, kRun1 + kRun2 + kRun4};
  int stats_seeds = 0;
  for (std::size_t i = 0; i < programs.size(); ++i) {
    stats_seeds += WriteSeeds(out / "blackbox_stats", "p" + std::to_string(i), {0x04, 0x06, 0x0D},
                              programs[i]);
  }
  blackbox_seeds += stats_seeds;
  std::cout << vectors.size() << " vectors: " << message_seeds << " message seeds, "
            << blackbox_seeds << " blackbox seeds, " << tool_seeds << " tool input seeds\n";
  return 0;
}
