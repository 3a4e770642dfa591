// Both kinds of line as JSON lines.
#ifndef GCUPROTO_BLACKBOX_JSON_LINES_FORMATTER_H
#define GCUPROTO_BLACKBOX_JSON_LINES_FORMATTER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/line_formatter.h>
#include <gcuproto/blackbox/record.h>
#include <gcuproto/blackbox/text_buffer.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gcuproto {
namespace blackbox {

// JSON lines: one object per line, with every field, in this shape:
//   {"kind":"line","seqNo":1,"timestamp":1000,"dataInput":[12,-3],"dataOutput":[0]}
//   {"kind":"lineCan","seqNo":2,"timestamp":1005,"canId":291,"messageId":0,
//    "extended":false,"data":"00FF10"}
// "kind" is the name of the list the line belongs to in BlackboxFile; data is
// upper-case hex, two digits a byte, "" when empty.
// With a source (SetSource()), every object starts with "source":"name".
class GCUPROTO_BLACKBOX_EXPORT JsonLinesFormatter : public LineFormatter {
 public:
  bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out, Error* error) override;
  bool SetSource(std::string_view name, Error* error) override;

  void AppendLine(const BlackboxFileLine& line, TextBuffer* out) const;
  void AppendLine(const BlackboxCandumpFileLine& line, TextBuffer* out) const;

 private:
  std::string prefix_ = "{";  // "{" or "{\"source\":\"name\","
  std::vector<std::uint32_t> samples_;
  BlackboxFileLine line_;
  BlackboxCandumpFileLine can_line_;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_JSON_LINES_FORMATTER_H
