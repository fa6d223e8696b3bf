#include <quillmere/engine/pipeline.hpp>

#include <utility>

namespace quillmere {

std::expected<ServiceBundle, std::vector<std::string>> gate_on_precheck(ServiceBundle bundle,
                                                                        const PrecheckReport& report) {
  auto failed = report.evaluate();
  if (!failed.empty()) return std::unexpected(std::move(failed));
  return bundle;
}

PostcheckDecision decide_after_postcheck(ServiceBundle bundle, const PostcheckReport& report,
                                         const std::optional<CommittedBundle>& committed) {
  auto reasons = report.evaluate();
  if (reasons.empty()) return PostcheckDecision{PostcheckDecision::Commit{bundle.bundle_version}};
  std::optional<BundleVersion> restored;
  if (committed) restored = committed->version;
  return PostcheckDecision{PostcheckDecision::Rollback{bundle.bundle_version, restored, std::move(reasons)}};
}

CommittedPair commit_applied_bundle(std::optional<CommittedBundle> current, BundleVersion version,
                                    std::vector<ServiceSpec> services, const brackfern::Timestamp& now) {
  return CommittedPair{CommittedBundle{version, std::move(services), now}, std::move(current)};
}

}  // namespace quillmere
