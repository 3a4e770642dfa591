// What `gcuproto blackbox info` prints about each file and about all of them
// together, as aligned text or as one JSON object.
#ifndef GCUPROTO_TOOLS_BLACKBOX_INFO_REPORT_H
#define GCUPROTO_TOOLS_BLACKBOX_INFO_REPORT_H

#include <gcuproto/blackbox/stats.h>
#include <gcuproto/blackbox/time_scale.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gcuproto::cli {

// Bytes of a file that gave no line: a damaged span the reader skipped, or
// the damage it stopped at, with everything after it.
struct DamageInfo {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::string reason;
  std::uint64_t lines_skipped = 0;  // as far as the sequence numbers on either side tell
  std::uint64_t lines_after = 0;    // lines read after the span
  bool tail = false;                // the reading stopped here
};

struct FileInfo {
  std::string name;
  std::uint64_t bytes = 0;           // of the input
  std::uint64_t complete_bytes = 0;  // up to the end of the last complete record
  std::uint64_t other_records = 0;   // neither line kind; skipped
  blackbox::FileStats stats;
  std::vector<DamageInfo> damage;
};

struct InfoSettings {
  std::string id_field = "canId";
  blackbox::TimeScale time_scale;
  std::string time_scale_text = "0.001";
};

// Ticks as seconds, through the time scale.
double Seconds(const InfoSettings& settings, std::uint64_t ticks);

std::string FileText(const FileInfo& file, const InfoSettings& settings);
std::string TotalText(const blackbox::TotalStats& total, std::uint64_t bytes,
                      std::uint64_t damaged_files, const InfoSettings& settings);

// The JSON report is one object, {"files":[...],"total":{...}}; these write
// its parts.
std::string FileJson(const FileInfo& file, const InfoSettings& settings);
std::string TotalJson(const blackbox::TotalStats& total, std::uint64_t bytes,
                      std::uint64_t damaged_files, const InfoSettings& settings);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_BLACKBOX_INFO_REPORT_H
