#include <quillmere/engine/admission.hpp>

#include <array>
#include <string>
#include <type_traits>
#include <utility>

namespace quillmere {

namespace {

template <class>
inline constexpr bool kAlwaysFalse = false;

std::unexpected<AdmissionRefusal> refuse(AdmissionRefusal refusal) {
  return std::unexpected(std::move(refusal));
}

}  // namespace

QuillmereError AdmissionRefusal::to_error() const {
  return std::visit(
      [](const auto& r) -> QuillmereError {
        using T = std::decay_t<decltype(r)>;
        using namespace admission_refusal;
        if constexpr (std::is_same_v<T, NotEnrolled>) {
          return QuillmereError(quillmere_error::NotEnrolled{});
        } else if constexpr (std::is_same_v<T, UnknownControlPlaneKey>) {
          return QuillmereError(quillmere_error::UnknownControlPlaneKey{});
        } else if constexpr (std::is_same_v<T, EnvelopeInvalid>) {
          return QuillmereError(quillmere_error::EnvelopeInvalid{});
        } else if constexpr (std::is_same_v<T, WrongNode>) {
          return QuillmereError(quillmere_error::WrongNode{r.expected.to_string(), r.actual.to_string()});
        } else if constexpr (std::is_same_v<T, Downgrade>) {
          return QuillmereError(quillmere_error::Downgrade{r.attempted, r.current});
        } else {
          static_assert(kAlwaysFalse<T>, "every refusal has an error form");
        }
      },
      value_);
}

std::string_view AdmissionRefusal::reason_code() const {
  // Every refusal's error form is one of the admission variants, which all have a code.
  return *to_error().admission_reason_code();
}

std::optional<BundleVersion> AdmissionRefusal::attempted_version() const {
  if (const auto* downgrade = get_if<admission_refusal::Downgrade>()) return downgrade->attempted;
  return std::nullopt;
}

std::expected<ServiceBundle, AdmissionRefusal> evaluate_incoming_bundle(const EnrollmentState& enrollment,
                                                                        const brackfern::NodeId& this_node,
                                                                        std::optional<BundleVersion> committed_version,
                                                                        const SignedServiceBundle& envelope,
                                                                        const brackfern::Timestamp& now) {
  const auto* enrolled = enrollment.get_if<EnrollmentState::Enrolled>();
  if (enrolled == nullptr) return refuse(admission_refusal::NotEnrolled{});

  // Compared as UUIDs, before anything about the signature is looked at.
  if (envelope.header.key_id != enrolled->key_id) {
    return refuse(admission_refusal::UnknownControlPlaneKey{});
  }

  const auto key = enrolled->public_key.to_verifying_key();
  if (!key) return refuse(admission_refusal::EnvelopeInvalid{});

  const std::array<std::string, 1> context{std::string(brackfern::kServiceBundleContext)};
  if (!envelope.verify(*key, now, context)) return refuse(admission_refusal::EnvelopeInvalid{});

  const ServiceBundle& bundle = envelope.payload;
  if (bundle.node_id != this_node) {
    return refuse(admission_refusal::WrongNode{bundle.node_id, this_node});
  }

  if (committed_version && bundle.bundle_version <= *committed_version) {
    return refuse(admission_refusal::Downgrade{bundle.bundle_version, *committed_version});
  }

  return bundle;
}

}  // namespace quillmere
