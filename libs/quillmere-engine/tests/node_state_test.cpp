#include <quillmere/engine/node_state.hpp>

#include <brackfern/contracts/hex.hpp>
#include <brackfern/contracts/timestamp.hpp>

#include <gtest/gtest.h>

#include "temp_files.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace quillmere {
namespace {

using test_support::mode_of;
using test_support::slurp;
using test_support::TempDir;

namespace fs = std::filesystem;
using brackfern::JsonError;

constexpr const char* kNodeId = "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f";
constexpr const char* kSeed = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";

void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  return names;
}

NodeState fixed_new_node() {
  return NodeState::create(NodeIdentity{*brackfern::NodeId::from_str(kNodeId), kSeed});
}

std::string new_node_text(const std::string& node_id, const std::string& seed) {
  return "{\n"
         "  \"identity\": {\n"
         "    \"node_id\": \"" +
         node_id +
         "\",\n"
         "    \"audit_signing_key_seed\": \"" +
         seed +
         "\"\n"
         "  },\n"
         "  \"enrollment\": {\n"
         "    \"status\": \"unenrolled\"\n"
         "  },\n"
         "  \"committed\": null,\n"
         "  \"previous_committed\": null,\n"
         "  \"audit_head\": null,\n"
         "  \"audit_sequence\": 0,\n"
         "  \"audit_log\": []\n"
         "}";
}

brackfern::AuditEvent sample_event(const std::string& action) {
  return brackfern::AuditEvent::create(brackfern::ProductId::from_static("quillmere"),
                                       brackfern::Actor{brackfern::ActorType::System, std::nullopt, std::nullopt},
                                       brackfern::Target{"control_plane", std::string("acme-cp")}, action,
                                       brackfern::AuditResult::Success, brackfern::AuditCategory::Authentication,
                                       brackfern::Timestamp::from_unix(1'772'352'900));
}

std::string debug_of(const LoadStateError& error) {
  if (const auto* text = std::get_if<std::string>(&error)) return "text: " + *text;
  return std::get<JsonError>(error).debug();
}

std::expected<NodeState, LoadStateError> load_text(const TempDir& dir, const std::string& text) {
  const std::string path = dir.file("node-state.json");
  spit(path, text);
  return load_state(path);
}

// ---- identity ----

TEST(NodeIdentity, GenerateDrawsAFreshLowerCaseSeedThatMakesAKey) {
  const NodeIdentity a = NodeIdentity::generate(*brackfern::NodeId::from_str(kNodeId));
  const NodeIdentity b = NodeIdentity::generate(*brackfern::NodeId::from_str(kNodeId));
  EXPECT_EQ(a.node_id.to_string(), kNodeId);
  EXPECT_EQ(a.audit_signing_key_seed.size(), 64u);
  EXPECT_EQ(a.audit_signing_key_seed.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(a.audit_signing_key_seed, b.audit_signing_key_seed);
  auto key = a.signing_key();
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(brackfern::to_hex(key->seed()), a.audit_signing_key_seed);
}

TEST(NodeIdentity, SeedIsReadInEitherCase) {
  std::string upper = kSeed;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto lower_key = NodeIdentity{*brackfern::NodeId::from_str(kNodeId), kSeed}.signing_key();
  auto upper_key = NodeIdentity{*brackfern::NodeId::from_str(kNodeId), upper}.signing_key();
  ASSERT_TRUE(lower_key.has_value());
  ASSERT_TRUE(upper_key.has_value());
  EXPECT_EQ(lower_key->verifying_key(), upper_key->verifying_key());
}

struct BadSeedCase {
  const char* name;
  std::string seed;
  friend void PrintTo(const BadSeedCase& c, std::ostream* os) { *os << c.name; }
};

class BadSeed : public ::testing::TestWithParam<BadSeedCase> {};

TEST_P(BadSeed, LoadsButRecordingAndVerifyingFailWithInvalidKeyMaterial) {
  const std::string expected = "InvalidKeyMaterial(\"node audit signing key seed is not 64 hex characters\")";
  TempDir dir;
  NodeState original = fixed_new_node();
  ASSERT_TRUE(record_event(original, sample_event("node.enrollment.offer_received")).has_value());
  original.identity.audit_signing_key_seed = GetParam().seed;
  const std::string path = dir.file("node-state.json");
  ASSERT_TRUE(save_state(original, path).has_value());

  auto loaded = load_state(path);
  ASSERT_TRUE(loaded.has_value()) << debug_of(loaded.error());
  EXPECT_EQ(loaded->identity.audit_signing_key_seed, GetParam().seed);

  auto key = loaded->identity.signing_key();
  ASSERT_FALSE(key.has_value());
  EXPECT_EQ(key.error().debug(), expected);

  const NodeState before = *loaded;
  auto recorded = record_event(*loaded, sample_event("node.enrollment.approved"));
  ASSERT_FALSE(recorded.has_value());
  EXPECT_EQ(recorded.error().debug(), expected);
  EXPECT_EQ(*loaded, before);  // head, sequence and log untouched

  auto verified = verify_audit(*loaded);
  ASSERT_FALSE(verified.has_value());
  EXPECT_EQ(verified.error().debug(), expected);
}

INSTANTIATE_TEST_SUITE_P(Seeds, BadSeed,
                         ::testing::Values(BadSeedCase{"Short63", std::string(kSeed).substr(0, 63)},
                                           BadSeedCase{"Long65", std::string(kSeed) + "0"},
                                           BadSeedCase{"NonHex", "g" + std::string(kSeed).substr(1)},
                                           BadSeedCase{"Empty", ""}),
                         [](const ::testing::TestParamInfo<BadSeedCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

// ---- file form and loading ----

TEST(SaveState, NewNodeIsWrittenByteExactWithNullsAndAnEmptyLog) {
  TempDir dir;
  const std::string path = dir.file("node-state.json");
  ASSERT_TRUE(save_state(fixed_new_node(), path).has_value());
  const std::string text = slurp(path);
  EXPECT_EQ(text, new_node_text(kNodeId, kSeed));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '}');
}

TEST(LoadState, RoundTripsASavedState) {
  TempDir dir;
  NodeState state = fixed_new_node();
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.offer_received")).has_value());
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.approved")).has_value());
  const std::string path = dir.file("node-state.json");
  ASSERT_TRUE(save_state(state, path).has_value());
  auto loaded = load_state(path);
  ASSERT_TRUE(loaded.has_value()) << debug_of(loaded.error());
  EXPECT_EQ(*loaded, state);
  EXPECT_EQ(state_file_text(*loaded), slurp(path));
}

// The file text is written one log entry at a time; it must be exactly the
// indented form of the whole document, for an empty, a one-entry and a
// longer log, enrolled or not.
TEST(StateFileText, IsTheIndentedFormOfTheWholeDocumentForLogsOfAnyLength) {
  struct Case {
    std::size_t events;
    bool revoked;
  };
  for (const Case c : {Case{0, false}, Case{1, false}, Case{3, true}, Case{0, true}}) {
    SCOPED_TRACE(std::to_string(c.events) + (c.revoked ? " revoked" : ""));
    NodeState state = fixed_new_node();
    if (c.revoked) {
      state.enrollment = EnrollmentState::Revoked{brackfern::ControlPlaneId::from_static("acme-cp"),
                                                  brackfern::Timestamp::from_unix(1'772'352'900)};
    }
    for (std::size_t i = 0; i < c.events; ++i) {
      ASSERT_TRUE(record_event(state, sample_event("node.enrollment.offer_received")).has_value());
    }
    EXPECT_EQ(state_file_text(state), brackfern::write_pretty_json(state.to_json()));
  }
  EXPECT_EQ(state_file_text(fixed_new_node()), new_node_text(kNodeId, kSeed));
}

TEST(LoadState, MissingNullableMembersReadAsAbsentAndAreWrittenBackAsNull) {
  TempDir dir;
  const std::string text =
      "{\"identity\": {\"node_id\": \"" + std::string(kNodeId) + "\", \"audit_signing_key_seed\": \"" + kSeed +
      "\"}, \"enrollment\": {\"status\": \"unenrolled\"}, \"audit_sequence\": 0, \"audit_log\": []}";
  auto loaded = load_text(dir, text);
  ASSERT_TRUE(loaded.has_value()) << debug_of(loaded.error());
  EXPECT_FALSE(loaded->committed.has_value());
  EXPECT_FALSE(loaded->previous_committed.has_value());
  EXPECT_FALSE(loaded->audit_head.has_value());
  const std::string path = dir.file("node-state.json");
  ASSERT_TRUE(save_state(*loaded, path).has_value());
  EXPECT_EQ(slurp(path), new_node_text(kNodeId, kSeed));
}

TEST(LoadState, UnknownMembersAreDroppedOnTheNextSave) {
  TempDir dir;
  std::string text = new_node_text(kNodeId, kSeed);
  text.insert(text.rfind('}'), ",\n  \"extra\": {\"anything\": [1, 2]}\n");
  auto loaded = load_text(dir, text);
  ASSERT_TRUE(loaded.has_value()) << debug_of(loaded.error());
  const std::string path = dir.file("node-state.json");
  ASSERT_TRUE(save_state(*loaded, path).has_value());
  EXPECT_EQ(slurp(path), new_node_text(kNodeId, kSeed));
}

struct BadDocumentCase {
  const char* name;
  std::string text;
  std::string error;  // the reader's error, debug form
  friend void PrintTo(const BadDocumentCase& c, std::ostream* os) { *os << c.name; }
};

class BadDocument : public ::testing::TestWithParam<BadDocumentCase> {};

TEST_P(BadDocument, IsRefusedWithTheReadersErrorAndPosition) {
  TempDir dir;
  auto loaded = load_text(dir, GetParam().text);
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(debug_of(loaded.error()), GetParam().error);
}

const std::string kIdentity =
    "{\"node_id\": \"" + std::string(kNodeId) + "\", \"audit_signing_key_seed\": \"" + kSeed + "\"}";

INSTANTIATE_TEST_SUITE_P(
    Documents, BadDocument,
    ::testing::Values(
        BadDocumentCase{"Empty", "", "Error(\"EOF while parsing a value\", line: 1, column: 0)"},
        BadDocumentCase{"MissingIdentity",
                        "{\n  \"enrollment\": {\"status\": \"unenrolled\"},\n  \"audit_sequence\": 0,\n"
                        "  \"audit_log\": []\n}",
                        "Error(\"missing field `identity`\", line: 5, column: 1)"},
        BadDocumentCase{"DuplicateMember",
                        "{\"identity\": " + kIdentity +
                            ", \"enrollment\": {\"status\": \"unenrolled\"}, \"audit_sequence\": 0, "
                            "\"audit_sequence\": 1, \"audit_log\": []}",
                        "Error(\"duplicate field `audit_sequence`\", line: 1, column: " +
                            std::to_string(13 + kIdentity.size() + 63 + 16) + ")"},
        BadDocumentCase{"NotAnObject", "[]",
                        "Error(\"invalid type: sequence, expected struct NodeState\", line: 1, column: 0)"},
        BadDocumentCase{"TrailingCharacters", new_node_text(kNodeId, kSeed) + "x",
                        "Error(\"trailing characters\", line: 14, column: 2)"},
        BadDocumentCase{
            "NegativeSequence",
            "{\"identity\": " + kIdentity +
                ", \"enrollment\": {\"status\": \"unenrolled\"}, \"audit_sequence\": -1, \"audit_log\": []}",
            "Error(\"invalid value: integer `-1`, expected u64\", line: 1, column: " +
                std::to_string(13 + kIdentity.size() + 62) + ")"},
        BadDocumentCase{"BadAuditHead",
                        "{\"identity\": " + kIdentity +
                            ", \"enrollment\": {\"status\": \"unenrolled\"}, \"audit_head\": 5, \"audit_sequence\": 0, "
                            "\"audit_log\": []}",
                        "Error(\"invalid type: integer `5`, expected a string\", line: 1, column: " +
                            std::to_string(13 + kIdentity.size() + 57) + ")"}),
    [](const ::testing::TestParamInfo<BadDocumentCase>& param_info) { return std::string(param_info.param.name); });

TEST(LoadState, MissingFileIsAReadingErrorWithThePathAsGiven) {
  TempDir dir;
  auto loaded = load_state(dir.file("absent.json"));
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(debug_of(loaded.error()),
            "text: reading node state at " + dir.file("absent.json") + ": No such file or directory (os error 2)");
}

// Bytes that are not UTF-8 are a reading error wherever they stand and
// whatever else is wrong, also in text the document would otherwise accept:
// free text of a log entry in the writer's form or in another form, the
// value of an unknown member, the white space around the document.
TEST(LoadState, TextThatIsNotUtf8IsAReadingErrorWhereverItStands) {
  TempDir dir;
  NodeState state = fixed_new_node();
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.offer_received")).has_value());
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.approved")).has_value());
  const std::string good = state_file_text(state);
  const std::size_t first = good.find("offer_received");
  const std::size_t second = good.find("approved\"");
  ASSERT_NE(second, std::string::npos);
  // The second entry in another form than the writer's: one member a line further.
  std::string reformed = good;
  reformed.insert(reformed.find("\"action\": \"node.enrollment.approved"), "\n");
  ASSERT_TRUE(load_text(dir, reformed).has_value());
  const std::string extra_member = good.substr(0, good.rfind('}')) + ",\n  \"extra\": \"x\"\n}";
  const std::string not_a_file = "reading node state at " + dir.file("node-state.json") + ": ";
  for (const std::string bad : {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"}) {
    const auto with = [&bad](std::string text, std::size_t at) { return text.insert(at, bad); };
    for (const std::string& text :
         {"{\"identity\": \"" + bad + "\"}", with(good, first), with(good, second),
          with(reformed, reformed.find("approved")), with(extra_member, extra_member.rfind('"')), good + "\n" + bad,
          with(good, 0), with(good, good.find("audit_sequence"))}) {
      SCOPED_TRACE(testing::PrintToString(text));
      auto loaded = load_text(dir, text);
      ASSERT_FALSE(loaded.has_value());
      EXPECT_EQ(debug_of(loaded.error()), "text: " + not_a_file + "stream did not contain valid UTF-8");
    }
  }
  // The same places with a character that is valid: accepted where text may stand.
  EXPECT_TRUE(load_text(dir, good.substr(0, first) + "\xc3\xa9" + good.substr(first)).has_value());
  EXPECT_TRUE(load_text(dir, extra_member.substr(0, extra_member.rfind('"')) + "\xf0\x9f\x98\x80\"\n}").has_value());
}

// ---- saving: atomic replace, modes ----

TEST(SaveState, NewFileIsOwnerOnlyAndAnExistingFileKeepsItsMode) {
  TempDir dir;
  const std::string path = dir.file("node-state.json");
  ASSERT_TRUE(save_state(fixed_new_node(), path).has_value());
  EXPECT_EQ(mode_of(path), 0600u);

  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_TRUE(save_state(NodeState::create(NodeIdentity::generate(brackfern::NodeId::create())), path).has_value());
  EXPECT_EQ(mode_of(path), 0644u);
}

TEST(SaveState, AFailureBeforeTheReplaceLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string path = dir.file("node-state.json");
  NodeState old_state = fixed_new_node();
  ASSERT_TRUE(save_state(old_state, path).has_value());
  const std::string old_text = slurp(path);

  NodeState new_state = old_state;
  ASSERT_TRUE(record_event(new_state, sample_event("node.enrollment.offer_received")).has_value());
  std::string seen_temporary;
  auto saved = detail::save_state(new_state, path, [&](const std::string& temporary) -> std::expected<void, OsError> {
    seen_temporary = temporary;
    // The temporary is complete at this point: it already loads as the new state.
    auto partial = load_state(temporary);
    EXPECT_TRUE(partial.has_value());
    return std::unexpected(OsError::from_errno(ENOSPC));
  });
  ASSERT_FALSE(saved.has_value());
  EXPECT_EQ(saved.error(), "writing node state to " + path + ": No space left on device (os error 28)");
  EXPECT_FALSE(seen_temporary.empty());
  EXPECT_EQ(slurp(path), old_text);
  auto reloaded = load_state(path);
  ASSERT_TRUE(reloaded.has_value());
  EXPECT_EQ(*reloaded, old_state);
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"node-state.json"});
}

TEST(SaveState, AReadOnlyDirectoryFailsAndLeavesTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
  TempDir dir;
  const std::string path = dir.file("node-state.json");
  ASSERT_TRUE(save_state(fixed_new_node(), path).has_value());
  const std::string old_text = slurp(path);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
  auto saved = save_state(NodeState::create(NodeIdentity::generate(brackfern::NodeId::create())), path);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
  ASSERT_FALSE(saved.has_value());
  EXPECT_EQ(saved.error(), "writing node state to " + path + ": Permission denied (os error 13)");
  EXPECT_EQ(slurp(path), old_text);
}

TEST(SaveState, ADirectoryAtThePathIsAWritingError) {
  TempDir dir;
  const std::string path = dir.file("state-dir");
  fs::create_directory(path);
  auto saved = save_state(fixed_new_node(), path);
  ASSERT_FALSE(saved.has_value());
  EXPECT_EQ(saved.error(), "writing node state to " + path + ": Is a directory (os error 21)");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"state-dir"});
}

// ---- the audit log ----

TEST(RecordEvent, ChainsSignsAndCountsEvents) {
  NodeState state = fixed_new_node();
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.offer_received")).has_value());
  ASSERT_EQ(state.audit_log.size(), 1u);
  EXPECT_EQ(state.audit_sequence, 1u);
  EXPECT_EQ(state.audit_log[0].sequence, 1u);
  EXPECT_FALSE(state.audit_log[0].event.previous_event_hash.has_value());
  ASSERT_TRUE(state.audit_head.has_value());
  const std::string first_head = state.audit_head->to_string();
  EXPECT_EQ(first_head.rfind("blake3:", 0), 0u);
  EXPECT_EQ(first_head.size(), 7u + 64u);

  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.approved")).has_value());
  ASSERT_EQ(state.audit_log.size(), 2u);
  EXPECT_EQ(state.audit_sequence, 2u);
  EXPECT_EQ(state.audit_log[1].sequence, 2u);
  ASSERT_TRUE(state.audit_log[1].event.previous_event_hash.has_value());
  EXPECT_EQ(state.audit_log[1].event.previous_event_hash->to_string(), first_head);
  EXPECT_NE(state.audit_head->to_string(), first_head);
  EXPECT_TRUE(verify_audit(state).has_value());
}

TEST(RecordEvent, ANullHeadStartsAFreshChainWhateverTheStoredSequence) {
  NodeState state = fixed_new_node();
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.offer_received")).has_value());
  state.audit_head.reset();
  state.audit_sequence = 4;
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.approved")).has_value());
  EXPECT_EQ(state.audit_sequence, 1u);
  EXPECT_EQ(state.audit_log.back().sequence, 1u);
  EXPECT_FALSE(state.audit_log.back().event.previous_event_hash.has_value());
  auto verified = verify_audit(state);
  ASSERT_FALSE(verified.has_value());
  EXPECT_EQ(verified.error().message(),
            "validation failed: audit chain broken at sequence 1: previous-hash link does not match the preceding "
            "event");
}

TEST(VerifyAudit, AnEditedEventOrAnotherNodesKeyFailsTheSignature) {
  NodeState state = fixed_new_node();
  EXPECT_TRUE(verify_audit(state).has_value());  // the empty log verifies
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.offer_received")).has_value());
  ASSERT_TRUE(record_event(state, sample_event("node.enrollment.approved")).has_value());

  NodeState edited = state;
  brackfern::SignedAuditEvent changed = edited.audit_log[1];
  changed.event.action = "node.enrollment.revoked";
  edited.audit_log.replace(1, std::move(changed));
  auto edited_result = verify_audit(edited);
  ASSERT_FALSE(edited_result.has_value());
  EXPECT_EQ(edited_result.error().debug(), "Core(SignatureInvalid)");

  NodeState other_key = state;
  other_key.identity = NodeIdentity::generate(state.identity.node_id);
  auto other_result = verify_audit(other_key);
  ASSERT_FALSE(other_result.has_value());
  EXPECT_EQ(other_result.error().debug(), "Core(SignatureInvalid)");
}

}  // namespace
}  // namespace quillmere
