#pragma once

#include <quillmere/contracts/check_reports.hpp>
#include <quillmere/contracts/quillmere_error.hpp>
#include <quillmere/contracts/service_bundle.hpp>

#include <brackfern/contracts/timestamp.hpp>

#include <expected>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quillmere {

// Passes an admitted bundle on unchanged when every pre-check holds;
// otherwise returns the names of the failed checks (PrecheckReport::evaluate).
[[nodiscard]] std::expected<ServiceBundle, std::vector<std::string>> gate_on_precheck(ServiceBundle bundle,
                                                                                      const PrecheckReport& report);

// What happens to an applied bundle after its post-check.
struct PostcheckDecision {
  struct Commit {
    BundleVersion version;
    friend bool operator==(const Commit&, const Commit&) = default;
  };
  struct Rollback {
    BundleVersion attempted;
    std::optional<BundleVersion> restored;  // the version still in force; none when nothing was committed
    std::vector<std::string> reasons;       // PostcheckReport::evaluate
    friend bool operator==(const Rollback&, const Rollback&) = default;
  };
  using Variant = std::variant<Commit, Rollback>;

  Variant value;

  [[nodiscard]] bool is_commit() const { return std::holds_alternative<Commit>(value); }
  [[nodiscard]] const Commit* commit() const { return std::get_if<Commit>(&value); }
  [[nodiscard]] const Rollback* rollback() const { return std::get_if<Rollback>(&value); }
  friend bool operator==(const PostcheckDecision&, const PostcheckDecision&) = default;
};

// Commit when the report passed; otherwise Rollback with the bundle's version
// as attempted and the committed bundle's version (if any) as restored.
[[nodiscard]] PostcheckDecision decide_after_postcheck(ServiceBundle bundle, const PostcheckReport& report,
                                                       const std::optional<CommittedBundle>& committed);

// The node's two bundle records after a commit.
struct CommittedPair {
  CommittedBundle committed;
  std::optional<CommittedBundle> previous_committed;
  friend bool operator==(const CommittedPair&, const CommittedPair&) = default;
};

// Commits an applied bundle: the bundle in force so far (if any) becomes the
// previous one, and a new record with `version`, `services` and
// committed_at = `now` becomes the one in force.
[[nodiscard]] CommittedPair commit_applied_bundle(std::optional<CommittedBundle> current, BundleVersion version,
                                                  std::vector<ServiceSpec> services, const brackfern::Timestamp& now);

}  // namespace quillmere
