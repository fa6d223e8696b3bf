// The signed and unsigned documents the node reads from files: service
// bundles, enrollment offers, pre-check and post-check reports, and the
// services list of the development control plane.
//
// Properties: nothing crashes; each document's reader on the text agrees with
// the whole-tree reader (the same document, or the same error, or an earlier
// one where the tree cannot be built); every document that was read writes
// JSON that reads back equal; verifying an envelope (with a fixed key, and an
// offer with its own key) only ever succeeds or fails.

#include "fuzz_check.hpp"

#include "../libs/brackfern-contracts/tests/reading_oracle.hpp"

#include <quillmere/contracts/check_reports.hpp>
#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/contracts/service_bundle.hpp>

#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/canonical_json.hpp>
#include <brackfern/crypto/keys.hpp>

#include <array>
#include <concepts>
#include <span>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

template <class Document>
void check_round_trip(const Document& document) {
  const std::string written = brackfern::write_pretty_json(document.to_json());
  auto value = brackfern::parse_json(written);
  zzv_fuzz::require(value.has_value(), "a document's JSON parses");
  auto reread = brackfern::read_tree<Document>(*value);
  zzv_fuzz::require(reread.has_value(), "a document's JSON reads as the same type");
  zzv_fuzz::require(brackfern::write_pretty_json(reread->to_json()) == written, "a document's JSON writes the same again");
  if constexpr (std::equality_comparable<Document>) {
    zzv_fuzz::require(*reread == document, "a document's JSON reads back equal");
  }
}

const brackfern::SigningKey& fixed_key() {
  static const brackfern::SigningKey key = [] {
    std::array<std::uint8_t, 32> seed{};
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return brackfern::SigningKey::from_seed(seed);
  }();
  return key;
}

const brackfern::Timestamp kNow = brackfern::Timestamp::from_unix(1'780'000'000);

void read_bundle(const brackfern::JsonValue& value) {
  auto bundle = brackfern::read_tree<quillmere::SignedServiceBundle>(value);
  if (!bundle) return;
  check_round_trip(*bundle);
  const std::string context(brackfern::kServiceBundleContext);
  (void)bundle->verify(fixed_key().verifying_key(), kNow, std::span<const std::string>(&context, 1));
  (void)brackfern::canonical_bytes(bundle->signing_view());
}

void read_offer(const brackfern::JsonValue& value) {
  auto offer = brackfern::read_tree<quillmere::EnrollmentOffer>(value);
  if (!offer) return;
  check_round_trip(*offer);
  const std::string context(brackfern::kEnrollmentOfferContext);
  (void)offer->verify(fixed_key().verifying_key(), kNow, std::span<const std::string>(&context, 1));
  (void)quillmere::verify_offer(*offer, kNow);
}

void read_reports(const brackfern::JsonValue& value) {
  if (auto precheck = brackfern::read_tree<quillmere::PrecheckReport>(value)) {
    check_round_trip(*precheck);
    (void)quillmere::debug_list(precheck->evaluate());
  }
  if (auto postcheck = brackfern::read_tree<quillmere::PostcheckReport>(value)) {
    check_round_trip(*postcheck);
    (void)quillmere::debug_list(postcheck->evaluate());
  }
}

void read_services(const brackfern::JsonValue& value) {
  auto services = brackfern::read_tree_with(value, quillmere::services_from_json);
  if (!services) return;
  auto reread = brackfern::read_tree_with(quillmere::services_to_json(*services), quillmere::services_from_json);
  zzv_fuzz::require(reread.has_value() && *reread == *services, "a services list reads back equal");
}

void require_readers_agree(std::string_view text) {
  using brackfern::test_support::document_disagreement;
  const auto as_json = [](const auto& document) { return document.to_json(); };
  const std::string differs[] = {
      document_disagreement(text, quillmere::SignedServiceBundle::from_json, as_json),
      document_disagreement(text, quillmere::EnrollmentOffer::from_json, as_json),
      document_disagreement(text, quillmere::PrecheckReport::from_json, as_json),
      document_disagreement(text, quillmere::PostcheckReport::from_json, as_json),
      document_disagreement(text, quillmere::services_from_json, quillmere::services_to_json),
  };
  for (const std::string& difference : differs) {
    if (!difference.empty()) std::fprintf(stderr, "%s\n", difference.c_str());
    zzv_fuzz::require(difference.empty(), "the text reader agrees with the whole-tree reader");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  require_readers_agree(zzv_fuzz::as_text(data, size));
  auto value = brackfern::parse_json(zzv_fuzz::as_text(data, size));
  if (!value) return 0;
  read_bundle(*value);
  read_offer(*value);
  read_reports(*value);
  read_services(*value);
  return 0;
}
