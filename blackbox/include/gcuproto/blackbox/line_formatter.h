// The interface of the text formats an Exporter writes.
#ifndef GCUPROTO_BLACKBOX_LINE_FORMATTER_H
#define GCUPROTO_BLACKBOX_LINE_FORMATTER_H

#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/record.h>
#include <gcuproto/blackbox/text_buffer.h>

#include <string_view>

namespace gcuproto {
namespace blackbox {

// Turns one line at a time into text. Line() gets the line's kind and its
// encoded bytes; it fails when the line cannot be written in the format:
// kDamaged when it does not decode, kUnsupported when a value does not fit.
// The error has no offset; the exporter, which knows where the line
// stands, adds it.
class GCUPROTO_BLACKBOX_EXPORT LineFormatter {
 public:
  virtual ~LineFormatter();
  // Text before the first line (a header row).
  virtual void Begin(TextBuffer* out);
  virtual bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out, Error* error) = 0;
  // The input file the next lines come from, for formats with a source
  // column or field; others ignore it. Fails (kUnsupported) when the format
  // cannot hold the name (CSV: a line break).
  virtual bool SetSource(std::string_view name, Error* error);
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_LINE_FORMATTER_H
