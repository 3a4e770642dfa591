// Writes raw seed inputs for the fuzzers; fuzz/make-corpus merges them into
// the committed corpora, keeping only inputs that add coverage.
//
//   gcuproto_fuzz_seeds OUT_DIR FILE...
//
// Each FILE is a test source, whose Bytes({...}) vectors are taken, or a
// sample file, taken whole. A vector becomes a message seed for every type
// that reads it without unknown fields, and a blackbox seed when it reads as
// a BlackboxFile. Random messages of every type are added.
#include <gcuproto/blackbox.pb.h>

#include <google/protobuf/message.h>

#include <cctype>
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
      if (pos < close && source[pos] == ',') ++pos;
      else if (pos < close) literal = false;
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: gcuproto_fuzz_seeds OUT_DIR FILE...\n";
    return 2;
  }
  const fs::path out = argv[1];
  fs::create_directories(out / "messages");
  fs::create_directories(out / "blackbox");

  std::vector<std::string> vectors;
  for (int i = 2; i < argc; ++i) {
    const fs::path path = argv[i];
    const std::string content = ReadFile(path);
    const auto ext = path.extension();
    if (ext == ".cc" || ext == ".h") {
      const auto found = ByteVectors(content);
      vectors.insert(vectors.end(), found.begin(), found.end());
    } else {
      vectors.push_back(content);
    }
  }

  const auto& types = gcuproto_test::AllMessageTypes();
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
      WriteFile(out / "blackbox" / ("v" + std::to_string(v)), vectors[v]);
      ++blackbox_seeds;
    }
  }

  gcuproto_test::RandomMessageFiller filler(1);
  for (std::size_t t = 0; t < types.size(); ++t) {
    for (int k = 0; k < 4; ++k) {
      auto message = NewMessage(types[t]);
      filler.Fill(message.get());
      WriteFile(out / "messages" / (types[t]->full_name() + "-r" + std::to_string(k)),
                std::string(1, static_cast<char>(t)) + message->SerializeAsString());
      ++message_seeds;
    }
  }
  for (int k = 0; k < 8; ++k) {
    BlackboxFile file;
    filler.Fill(&file);
    WriteFile(out / "blackbox" / ("r" + std::to_string(k)), file.SerializeAsString());
    ++blackbox_seeds;
  }
  std::cout << vectors.size() << " vectors: " << message_seeds << " message seeds, "
            << blackbox_seeds << " blackbox seeds\n";
  return 0;
}
