// CAN lines as CSV.
#ifndef GCUPROTO_BLACKBOX_CAN_CSV_FORMATTER_H
#define GCUPROTO_BLACKBOX_CAN_CSV_FORMATTER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/line_formatter.h>
#include <gcuproto/blackbox/record.h>
#include <gcuproto/blackbox/text_buffer.h>
#include <gcuproto/blackbox/time_scale.h>

#include <string>
#include <string_view>

namespace gcuproto {
namespace blackbox {

// CAN lines as CSV: seqNo,timestamp[,time],canId,messageId,extended,dlc,data
// [,source], with integers in decimal, extended as true or false, dlc the
// number of data bytes and data upper-case hex, two digits a byte. Logger
// lines are left out (still checked to decode).
struct CanCsvOptions {
  bool time = false;
  TimeScale time_scale;
  bool source = false;
};

class GCUPROTO_BLACKBOX_EXPORT CanCsvFormatter : public LineFormatter {
 public:
  explicit CanCsvFormatter(CanCsvOptions options) : options_(options) {}
  void Begin(TextBuffer* out) override;
  bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out, Error* error) override;
  bool SetSource(std::string_view name, Error* error) override;

  void AppendRow(const BlackboxCandumpFileLine& line, TextBuffer* out) const;

 private:
  CanCsvOptions options_;
  std::string source_cell_;
  BlackboxFileLine line_;
  BlackboxCandumpFileLine can_line_;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_CAN_CSV_FORMATTER_H
