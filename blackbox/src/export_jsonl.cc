#include <gcuproto/blackbox/json_lines_formatter.h>

#include "decode_line.h"
#include "number_text.h"
#include "sample_text.h"

namespace gcuproto {
namespace blackbox {
namespace {

char* PutSampleList(char* q, std::string_view name,
                    const google::protobuf::RepeatedField<std::int32_t>& samples) {
  q = PutText(q, name);
  *q++ = '[';
  for (int i = 0; i < samples.size(); ++i) {
    if (i > 0) *q++ = ',';
    q = PutDecimal(q, samples.Get(i));
  }
  *q++ = ']';
  return q;
}

// "[a,b,c]" from zigzag-encoded samples: the cells come with a comma in
// front, and the first comma becomes the bracket.
inline char* PutSampleList(char* q, const std::uint32_t* samples, std::size_t count,
                           const SmallCells& small) {
  char* const open = q;
  q = PutSamples(q, samples, count, small);
  if (q == open)
    *q++ = '[';
  else
    *open = '[';
  *q++ = ']';
  return q;
}

}  // namespace

bool JsonLinesFormatter::SetSource(std::string_view name, Error*) {
  prefix_ = "{\"source\":" + JsonString(name) + ",";
  return true;
}

void JsonLinesFormatter::AppendLine(const BlackboxFileLine& line, TextBuffer* out) const {
  const auto samples = static_cast<std::size_t>(line.datainput_size() + line.dataoutput_size());
  char* q = out->Reserve(128 + prefix_.size() + (kMaxDecimal32 + 1) * samples);
  q = PutText(q, prefix_);
  q = PutText(q, "\"kind\":\"line\",\"seqNo\":");
  q = PutDecimal(q, line.seqno());
  q = PutText(q, ",\"timestamp\":");
  q = PutDecimal(q, line.timestamp());
  q = PutSampleList(q, ",\"dataInput\":", line.datainput());
  q = PutSampleList(q, ",\"dataOutput\":", line.dataoutput());
  q = PutText(q, "}\n");
  out->Advance(q);
}

void JsonLinesFormatter::AppendLine(const BlackboxCandumpFileLine& line, TextBuffer* out) const {
  char* q = out->Reserve(192 + prefix_.size() + 2 * line.data().size());
  q = PutText(q, prefix_);
  q = PutText(q, "\"kind\":\"lineCan\",\"seqNo\":");
  q = PutDecimal(q, line.seqno());
  q = PutText(q, ",\"timestamp\":");
  q = PutDecimal(q, line.timestamp());
  q = PutText(q, ",\"canId\":");
  q = PutDecimal(q, line.canid());
  q = PutText(q, ",\"messageId\":");
  q = PutDecimal(q, line.messageid());
  q = PutText(
      q, line.extended() ? ",\"extended\":true,\"data\":\"" : ",\"extended\":false,\"data\":\"");
  q = codec::PutHexBytes(q, line.data(), codec::HexCase::kUpper);
  q = PutText(q, "\"}\n");
  out->Advance(q);
}

bool JsonLinesFormatter::Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
                              Error* error) {
  if (kind == RecordKind::kLoggerLine) {
    // The common encoding straight from its bytes, samples through the table.
    Layout layout;
    std::size_t inputs;
    std::size_t outputs;
    if (FindLayout(encoded, &layout) && DecodeLayout(layout, &samples_, &inputs, &outputs)) {
      char* q = out->Reserve(128 + prefix_.size() + (kMaxDecimal32 + 1) * (inputs + outputs) + 8);
      q = PutText(q, prefix_);
      q = PutText(q, "\"kind\":\"line\",\"seqNo\":");
      q = PutDecimal(q, layout.seq_no);
      q = PutText(q, ",\"timestamp\":");
      q = PutDecimal(q, layout.timestamp);
      const SmallCells& small = TheSmallCells();
      q = PutText(q, ",\"dataInput\":");
      q = PutSampleList(q, samples_.data(), inputs, small);
      q = PutText(q, ",\"dataOutput\":");
      q = PutSampleList(q, samples_.data() + inputs, outputs, small);
      q = PutText(q, "}\n");
      out->Advance(q);
      return true;
    }
  }
  if (!DecodeLine(kind, encoded, &line_, &can_line_, error)) return false;
  if (kind == RecordKind::kLoggerLine) {
    AppendLine(line_, out);
  } else {
    AppendLine(can_line_, out);
  }
  return true;
}

}  // namespace blackbox
}  // namespace gcuproto
