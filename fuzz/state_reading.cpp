// The state file's one-pass reader against the whole-tree reference, on
// arbitrary bytes, and the log entry reader on its own.
//
// Properties: read_state_text and the reference give the same error
// (message, line, column) or equal states that write the same bytes, also
// after one more event is recorded on both; an entry the written-form reader
// accepts is exactly the writer's text of what it read, and the general
// reader reads that text as the same entry; the check without decoding
// accepts the same texts, and the signed bytes and listing read from an
// accepted text are those of the entry.

#include "fuzz_check.hpp"

#include "../libs/quillmere-engine/tests/state_oracle.hpp"

#include <brackfern/audit/audit_chain.hpp>
#include <brackfern/audit/written_entry.hpp>
#include <brackfern/contracts/json_value.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using zzv_fuzz::require;
  const std::string text(zzv_fuzz::as_text(data, size));

  static const brackfern::AuditEvent next = brackfern::AuditEvent::create(
      brackfern::ProductId::from_static("quillmere"),
      brackfern::Actor{brackfern::ActorType::System, std::nullopt, std::nullopt},
      brackfern::Target{"control_plane", std::string("acme-cp")}, "node.enrollment.revoked",
      brackfern::AuditResult::Success, brackfern::AuditCategory::Authentication,
      brackfern::Timestamp::from_unix(1'772'352'900));
  const std::string differs = quillmere::test_support::disagreement(text, &next);
  if (!differs.empty()) std::fprintf(stderr, "%s\n", differs.c_str());
  require(differs.empty(), "the one-pass reader agrees with the whole-tree reader");

  for (std::size_t depth : {0, 2}) {
    std::optional<brackfern::SignedAuditEvent> entry;
    const std::size_t read = brackfern::read_written_entry(text, depth, entry);
    require(brackfern::check_written_entry(text, depth) == read, "the check accepts what the reader accepts");
    if (read == 0) continue;
    const std::string_view accepted = std::string_view(text).substr(0, read);
    std::string bytes;
    brackfern::WrittenChainFields fields;
    if (brackfern::written_signed_bytes(accepted, depth, bytes, fields)) {
      require(bytes == brackfern::audit_event_bytes(entry->event).value() && fields.sequence == entry->sequence &&
                  fields.signature == entry->signature &&
                  fields.previous_event_hash == entry->event.previous_event_hash,
              "the signed bytes read from the text are those of the entry read");
    }
    std::string line;
    if (const auto sequence = brackfern::append_written_event_text(accepted, depth, line)) {
      require(*sequence == entry->sequence && line == entry->event.to_string(),
              "the listing read from the text is that of the entry read");
    }
    std::string written;
    brackfern::append_pretty_json(written, entry->to_json(), depth);
    require(written == text.substr(0, read), "an entry read in the written form is the writer's text");
    auto tree = brackfern::detail::parse_json_nested(written, static_cast<int>(depth));
    require(tree.has_value(), "the written form parses");
    auto general = brackfern::read_tree<brackfern::SignedAuditEvent>(*tree);
    require(general.has_value() && *general == *entry, "the general reader reads the same entry");
  }
  return 0;
}
