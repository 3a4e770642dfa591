// Plain-text tables for the listings of gcuproto: columns padded to their
// widest cell, no trailing spaces.
#ifndef GCUPROTO_TOOLS_TABLE_H
#define GCUPROTO_TOOLS_TABLE_H

#include <string>
#include <utility>
#include <vector>

namespace gcuproto::cli {

class Table {
 public:
  // Columns whose index is in `right_aligned` are aligned right (numbers).
  explicit Table(std::vector<std::size_t> right_aligned = {})
      : right_aligned_(std::move(right_aligned)) {}

  void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

  // Each row on its own line, preceded by `indent`, columns two spaces apart.
  std::string Render(const std::string& indent = "") const;

 private:
  std::vector<std::size_t> right_aligned_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_TABLE_H
