#include <quillmere/contracts/check_reports.hpp>

#include "json_fields.hpp"

#include <brackfern/contracts/debug_quote.hpp>

#include <array>
#include <optional>
#include <utility>

namespace quillmere {

using brackfern::JsonResult;
using brackfern::JsonSource;
using brackfern::JsonValue;

namespace {

constexpr std::array<std::string_view, 3> kOutcomeNames{"passed", "failed", "unknown"};
constexpr std::array<std::string_view, 3> kOutcomeDebugNames{"Passed", "Failed", "Unknown"};

}  // namespace

// PrecheckReport

std::vector<std::string> PrecheckReport::evaluate() const {
  std::vector<std::string> failed;
  if (!disk_space_sufficient) failed.emplace_back("disk_space_sufficient");
  if (!no_conflicting_apply_in_progress) failed.emplace_back("no_conflicting_apply_in_progress");
  if (!artifacts_resolvable) failed.emplace_back("artifacts_resolvable");
  return failed;
}

JsonValue PrecheckReport::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("disk_space_sufficient", disk_space_sufficient);
  out.add("no_conflicting_apply_in_progress", no_conflicting_apply_in_progress);
  out.add("artifacts_resolvable", artifacts_resolvable);
  return out;
}

JsonResult<PrecheckReport> PrecheckReport::from_json(JsonSource& source) {
  std::optional<bool> disk_space_sufficient;
  std::optional<bool> no_conflicting_apply_in_progress;
  std::optional<bool> artifacts_resolvable;
  auto read = brackfern::read_object(
      source, "struct PrecheckReport",
      {
          detail::required_field("disk_space_sufficient", disk_space_sufficient, brackfern::read_bool),
          detail::required_field("no_conflicting_apply_in_progress", no_conflicting_apply_in_progress,
                                 brackfern::read_bool),
          detail::required_field("artifacts_resolvable", artifacts_resolvable, brackfern::read_bool),
      });
  if (!read) return std::unexpected(std::move(read.error()));
  return PrecheckReport{*disk_space_sufficient, *no_conflicting_apply_in_progress, *artifacts_resolvable};
}

// PostcheckOutcome

std::string_view to_json_name(PostcheckOutcome outcome) {
  return kOutcomeNames.at(static_cast<std::size_t>(outcome));
}

std::string_view debug_name(PostcheckOutcome outcome) {
  return kOutcomeDebugNames.at(static_cast<std::size_t>(outcome));
}

JsonResult<PostcheckOutcome> read_postcheck_outcome(JsonSource& source) {
  auto index = brackfern::read_enum_index(source, kOutcomeNames);
  if (!index) return std::unexpected(std::move(index.error()));
  return static_cast<PostcheckOutcome>(*index);
}

// PostcheckReport

std::vector<std::string> PostcheckReport::evaluate() const {
  std::vector<std::string> failed;
  if (services_healthy != PostcheckOutcome::Passed) {
    failed.push_back("services_healthy=" + std::string(debug_name(services_healthy)));
  }
  if (no_crash_loop != PostcheckOutcome::Passed) {
    failed.push_back("no_crash_loop=" + std::string(debug_name(no_crash_loop)));
  }
  return failed;
}

JsonValue PostcheckReport::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("services_healthy", to_json_name(services_healthy));
  out.add("no_crash_loop", to_json_name(no_crash_loop));
  return out;
}

JsonResult<PostcheckReport> PostcheckReport::from_json(JsonSource& source) {
  std::optional<PostcheckOutcome> services_healthy;
  std::optional<PostcheckOutcome> no_crash_loop;
  auto read =
      brackfern::read_object(source, "struct PostcheckReport",
                             {
                                 detail::required_field("services_healthy", services_healthy, read_postcheck_outcome),
                                 detail::required_field("no_crash_loop", no_crash_loop, read_postcheck_outcome),
                             });
  if (!read) return std::unexpected(std::move(read.error()));
  return PostcheckReport{*services_healthy, *no_crash_loop};
}

std::string debug_list(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out += ", ";
    out += brackfern::debug_quote(texts[i]);
  }
  out += "]";
  return out;
}

}  // namespace quillmere
