#include "table.h"

#include <algorithm>

namespace gcuproto::cli {

std::string Table::Render(const std::string& indent) const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto& row : rows_) {
    std::string line = indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) line += "  ";
      const std::string padding(widths[i] - row[i].size(), ' ');
      const bool right =
          std::find(right_aligned_.begin(), right_aligned_.end(), i) != right_aligned_.end();
      line += right ? padding + row[i] : row[i] + padding;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + '\n';
  }
  return text;
}

}  // namespace gcuproto::cli
