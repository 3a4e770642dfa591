// The blackbox file read with protozero, the lightest protobuf reader there
// is: a streaming read that decodes every field, and the skip-scan, which
// visits every field of every line and decodes none: the limit of any reader
// that must look at each field.
#include <cstdint>
#include <protozero/pbf_reader.hpp>
#include <string>
#include <vector>

#include "workloads.h"

namespace gcuproto_bench {
namespace {

constexpr protozero::pbf_tag_type kLine = 10;
constexpr protozero::pbf_tag_type kLineCan = 11;

// Digests in the order the library's cases use, for the start-up check.
struct Digest {
  std::uint64_t logger = kDigestStart;
  std::uint64_t can = kDigestStart;
  std::vector<std::int32_t> inputs;
  std::vector<std::int32_t> outputs;

  static std::uint64_t List(std::uint64_t digest, const std::vector<std::int32_t>& values) {
    digest = Mix(digest, values.size());
    for (std::int32_t value : values) digest = Mix(digest, static_cast<std::uint32_t>(value));
    return digest;
  }
};

class ProtozeroReadKernel {
 public:
  static std::int64_t Bytes() { return static_cast<std::int64_t>(BlackboxFileBytes().size()); }
  std::uint64_t Run() { return Read(nullptr); }
  Result Check() {
    Digest digest;
    if (Read(&digest) == 0) return {};
    return {"", std::to_string(digest.logger) + "/" + std::to_string(digest.can)};
  }

 private:
  // Every field of every line, summed as the other cases sum them; with a
  // digest, also mixed in field order.
  static std::uint64_t Read(Digest* digest) {
    const std::string& file = BlackboxFileBytes();
    protozero::pbf_reader records(file.data(), file.size());
    std::uint64_t sum = 0;
    std::uint64_t lines = 0;
    while (records.next()) {
      ++lines;
      if (records.tag() == kLine) {
        protozero::pbf_reader line = records.get_message();
        std::uint32_t seq_no = 0;
        std::uint32_t timestamp = 0;
        if (digest) digest->inputs.clear(), digest->outputs.clear();
        std::uint64_t samples = 0;
        while (line.next()) {
          switch (line.tag()) {
            case 1:
              seq_no = line.get_uint32();
              break;
            case 3:
              timestamp = line.get_uint32();
              break;
            case 2:
            case 4: {
              const bool input = line.tag() == 2;
              std::uint64_t count = 0;
              for (const std::int32_t value : line.get_packed_sint32()) {
                samples += static_cast<std::uint32_t>(value);
                ++count;
                if (digest) (input ? digest->inputs : digest->outputs).push_back(value);
              }
              samples += count;
              break;
            }
            default:
              line.skip();
          }
        }
        sum += seq_no + timestamp + samples;
        if (digest) {
          digest->logger = Mix(Mix(digest->logger, seq_no), timestamp);
          digest->logger =
              Digest::List(Digest::List(digest->logger, digest->inputs), digest->outputs);
        }
      } else if (records.tag() == kLineCan) {
        protozero::pbf_reader line = records.get_message();
        std::uint32_t fields[5] = {};
        protozero::data_view data;
        while (line.next()) {
          const auto tag = line.tag();
          if (tag >= 1 && tag <= 4) {
            fields[tag - 1] = line.get_uint32();
          } else if (tag == 5) {
            fields[4] = line.get_bool() ? 1 : 0;
          } else if (tag == 6) {
            data = line.get_view();
          } else {
            line.skip();
          }
        }
        sum += fields[0] + fields[1] + fields[2] + fields[3] + fields[4] + data.size();
        if (digest) {
          std::uint64_t& d = digest->can;
          d = Mix(Mix(Mix(Mix(Mix(d, fields[0]), fields[1]), fields[2]), fields[3]), fields[4]);
          d = Mix(d, data.size());
          for (std::size_t i = 0; i < data.size(); ++i)
            d = Mix(d, static_cast<unsigned char>(data.data()[i]));
        }
      } else {
        records.skip();
      }
    }
    return sum + 2 * lines;
  }
};

// Every field's key read and its value stepped over; packed samples are
// skipped as one block.
class SkipScanKernel {
 public:
  static std::int64_t Bytes() { return static_cast<std::int64_t>(BlackboxFileBytes().size()); }
  std::uint64_t Run() {
    const std::string& file = BlackboxFileBytes();
    protozero::pbf_reader records(file.data(), file.size());
    std::uint64_t fields = 0;
    while (records.next()) {
      protozero::pbf_reader line = records.get_message();
      while (line.next()) {
        line.skip();
        ++fields;
      }
    }
    return fields;
  }
  Result Check() { return {"", std::to_string(Run())}; }
};

}  // namespace

std::vector<Case> ProtozeroCases() {
  std::vector<Case> cases;
  cases.push_back(MakeCase<ProtozeroReadKernel>(kBlackboxRead, "protozero"));
  cases.push_back(MakeCase<SkipScanKernel>(kBlackboxSkipScan, "protozero"));
  return cases;
}

}  // namespace gcuproto_bench
