#pragma once

#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

// What the host's tooling reports before a bundle is applied. Three required
// booleans; other members are ignored.
struct PrecheckReport {
  bool disk_space_sufficient;
  bool no_conflicting_apply_in_progress;
  bool artifacts_resolvable;

  // The names of the checks that are false, in the fixed order
  // disk_space_sufficient, no_conflicting_apply_in_progress,
  // artifacts_resolvable. Empty means passed.
  [[nodiscard]] std::vector<std::string> evaluate() const;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<PrecheckReport> from_json(brackfern::JsonSource& source);
  friend bool operator==(const PrecheckReport&, const PrecheckReport&) = default;
};

// JSON "passed", "failed", "unknown". Only Passed counts as passed.
enum class PostcheckOutcome { Passed, Failed, Unknown };

[[nodiscard]] std::string_view to_json_name(PostcheckOutcome outcome);
// "Passed", "Failed", "Unknown": the names failure texts show.
[[nodiscard]] std::string_view debug_name(PostcheckOutcome outcome);
[[nodiscard]] brackfern::JsonResult<PostcheckOutcome> read_postcheck_outcome(brackfern::JsonSource& source);

// What the host's tooling reports after a bundle was applied. Two required
// outcomes; other members are ignored.
struct PostcheckReport {
  PostcheckOutcome services_healthy;
  PostcheckOutcome no_crash_loop;

  // "services_healthy=<Name>" then "no_crash_loop=<Name>" for each outcome
  // that is not Passed. Empty means passed.
  [[nodiscard]] std::vector<std::string> evaluate() const;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<PostcheckReport> from_json(brackfern::JsonSource& source);
  friend bool operator==(const PostcheckReport&, const PostcheckReport&) = default;
};

// A failure list as messages show it: each text debug-quoted, separated by
// ", ", inside square brackets, e.g. ["disk_space_sufficient", "artifacts_resolvable"].
[[nodiscard]] std::string debug_list(const std::vector<std::string>& texts);

}  // namespace quillmere
