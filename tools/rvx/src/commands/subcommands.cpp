// The list of the subcommands. A new one defines its Subcommand in its own
// file and is named here once.
#include "commands/subcommand.h"

namespace rvx {

extern const Subcommand kInfoSubcommand;
extern const Subcommand kStatsSubcommand;
extern const Subcommand kExportSubcommand;
extern const Subcommand kFollowSubcommand;
extern const Subcommand kFromCsvSubcommand;  // rvx import
extern const Subcommand kConvertSubcommand;
extern const Subcommand kModifySubcommand;
extern const Subcommand kCheckSubcommand;
extern const Subcommand kRepairSubcommand;
extern const Subcommand kCutSubcommand;
extern const Subcommand kSelectSubcommand;
extern const Subcommand kMergeSubcommand;
extern const Subcommand kPlotSubcommand;
extern const Subcommand kDemoSubcommand;

std::span<const Subcommand* const> subcommands() {
  static const Subcommand* const kList[] = {
      &kInfoSubcommand,    &kStatsSubcommand,   &kExportSubcommand, &kFollowSubcommand,
      &kFromCsvSubcommand, &kConvertSubcommand, &kModifySubcommand, &kCheckSubcommand,
      &kRepairSubcommand,  &kCutSubcommand,     &kSelectSubcommand, &kMergeSubcommand,
      &kPlotSubcommand,    &kDemoSubcommand,
  };
  return kList;
}

}  // namespace rvx
