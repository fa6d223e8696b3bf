#include "bundle_commands.hpp"

namespace zidazavavide {

CommandResult run_bundle_apply(const BundleApply& /*command*/, Console& /*console*/) {
  return text_error("`bundle apply` is not available yet");
}

}  // namespace zidazavavide
