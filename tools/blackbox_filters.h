// The line filters that export, cat and info share: --kind, --from, --to,
// --seq, --can-id and --extended, with --time-scale for times in seconds.
#ifndef GCUPROTO_TOOLS_BLACKBOX_FILTERS_H
#define GCUPROTO_TOOLS_BLACKBOX_FILTERS_H

#include <gcuproto/blackbox/filter.h>
#include <gcuproto/blackbox/time_scale.h>

#include <string>
#include <vector>

namespace CLI {
class App;
}  // namespace CLI

namespace gcuproto::cli {

struct FilterOptions {
  std::string kind;
  std::string from;
  std::string to;
  std::string seq;
  std::vector<std::string> can_ids;
  bool extended = false;
  std::string time_scale = "0.001";
};

// Adds the options to `command`, in a group of their own in --help.
void AddFilterOptions(CLI::App* command, FilterOptions* options);

// The --time-scale given; a UsageError when it is no positive decimal.
blackbox::TimeScale ParseTimeScale(const std::string& text);

// The filter the options ask for; `id_field` is the --id-field value
// ("canId" or "messageId") that --can-id compares. Throws UsageError naming
// the option whose value is wrong.
blackbox::Filter MakeFilter(const FilterOptions& options, const std::string& id_field);

// The help text's paragraph on filters, for footers.
extern const char* const kFilterHelp;

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_BLACKBOX_FILTERS_H
