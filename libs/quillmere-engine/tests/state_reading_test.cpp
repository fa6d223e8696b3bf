// The state file's one-pass reader and piecewise writer against the
// whole-tree reference, on written states, hand-edited ones, every
// JSONTestSuite document, and truncated or damaged copies of a real state.

#include <quillmere/engine/node_state.hpp>

#include <quillmere/contracts/check_reports.hpp>

#include <brackfern/contracts/timestamp.hpp>

#include <gtest/gtest.h>

#include "state_oracle.hpp"
#include "temp_files.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace quillmere {
namespace {

using test_support::disagreement;

constexpr const char* kNodeId = "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f";
constexpr const char* kSeed = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";

brackfern::AuditEvent plain_event(const std::string& action) {
  return brackfern::AuditEvent::create(brackfern::ProductId::from_static("quillmere"),
                                       brackfern::Actor{brackfern::ActorType::System, std::nullopt, std::nullopt},
                                       brackfern::Target{"control_plane", std::string("acme-cp")}, action,
                                       brackfern::AuditResult::Success, brackfern::AuditCategory::Authentication,
                                       brackfern::Timestamp::from_unix(1'772'352'900));
}

// Every optional member present, text that needs escapes, non-ASCII text,
// byte strings (one empty) and redaction markers.
brackfern::AuditEvent rich_event() {
  brackfern::AuditEvent e = plain_event("node.bundle.committed");
  e.tenant_id = *brackfern::TenantId::from_str("0b7c8d9e-1f2a-4b3c-8d4e-5f6a7b8c9d0e");
  e.workspace_id = *brackfern::WorkspaceId::from_str("1c8d9e0f-2a3b-4c4d-9e5f-6a7b8c9d0e1f");
  e.source_node_id = *brackfern::NodeId::from_str(kNodeId);
  e.actor = brackfern::Actor{brackfern::ActorType::FederationPeer, "op \"q\" \\ \xc3\xa9 \xe2\x98\x83\n\t\x01\x1f/",
                             brackfern::ByteString{0, 1, 127, 255}};
  e.target = brackfern::Target{"service_bundle", std::nullopt};
  e.result = brackfern::AuditResult::Denied;
  e.received_at = brackfern::Timestamp::from_unix(1'772'352'901, 500'000'000);
  e.correlation_id = "corr/1";
  e.metadata_encrypted = brackfern::ByteString{};
  e.redaction_markers = {
      brackfern::RedactionMarker{"actor.actor_id", brackfern::RedactionReason::PersonalData,
                                 *brackfern::PolicyId::from_str("2d9e0f1a-3b4c-4d5e-8f6a-7b8c9d0e1f2a"),
                                 brackfern::Timestamp::from_unix(1'772'352'902),
                                 *brackfern::IdentityId::from_str("3e0f1a2b-4c5d-4e6f-9a7b-8c9d0e1f2a3b")},
      brackfern::RedactionMarker{"metadata_encrypted", brackfern::RedactionReason::Secret, std::nullopt, std::nullopt,
                                 std::nullopt},
  };
  return e;
}

NodeState real_state() {
  NodeState state = NodeState::create(NodeIdentity{*brackfern::NodeId::from_str(kNodeId), kSeed});
  EXPECT_TRUE(record_event(state, plain_event("node.enrollment.offer_received")).has_value());
  EXPECT_TRUE(record_event(state, rich_event()).has_value());
  EXPECT_TRUE(record_event(state, plain_event("node.enrollment.approved")).has_value());
  return state;
}

const std::string& real_text() {
  static const std::string text = state_file_text(real_state());
  return text;
}

// `text` with the first occurrence of `from` (after the first occurrence of
// `after`, when given) replaced by `to`.
std::string edited(std::string text, const std::string& from, const std::string& to, const std::string& after = "") {
  const std::size_t start = after.empty() ? 0 : text.find(after);
  const std::size_t at = text.find(from, start == std::string::npos ? 0 : start);
  if (at == std::string::npos) ADD_FAILURE() << "no " << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// All white space outside strings removed.
std::string compact(const std::string& text) {
  std::string out;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      out.push_back(c);
      if (c == '\\') out.push_back(text[++i]);
      if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
      out.push_back(c);
    } else if (c != ' ' && c != '\n') {
      out.push_back(c);
    }
  }
  return out;
}

// Every object's members in reverse order, written in the file form.
brackfern::JsonValue reversed(brackfern::JsonValue value) {
  if (auto* members = value.as_object()) {
    std::reverse(members->begin(), members->end());
    for (auto& member : *members) member.value = reversed(std::move(member.value));
  } else if (auto* items = value.as_array()) {
    for (auto& item : *items) item = reversed(std::move(item));
  }
  return value;
}

std::string upper_after(std::string text, const std::string& marker, std::size_t count) {
  const std::size_t at = text.find(marker);
  for (std::size_t i = at + marker.size(); i < at + marker.size() + count; ++i) {
    text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  }
  return text;
}

TEST(StateReading, AWrittenStateIsKeptAsItsOwnTextAndWrittenBackByteForByte) {
  const std::string& text = real_text();
  auto state = read_state_text(text);
  ASSERT_TRUE(state.has_value()) << state.error().debug();
  ASSERT_EQ(state->audit_log.size(), 3u);
  for (std::size_t i = 0; i < state->audit_log.size(); ++i) EXPECT_FALSE(state->audit_log.stored_text(i).empty());
  EXPECT_EQ(state_file_text(*state), text);
  EXPECT_EQ(disagreement(text), "");
}

TEST(StateReading, HandEditedStatesReadAndWriteAsTheReferenceDoes) {
  const std::string& text = real_text();
  const std::string occurred = brackfern::Timestamp::from_unix(1'772'352'900).to_rfc3339();
  const std::string event_id_at = "\"event_id\": \"";
  const std::size_t id_at = text.find(event_id_at) + event_id_at.size();
  const std::string first_id = text.substr(id_at, 36);
  auto tree = brackfern::parse_json(text);
  ASSERT_TRUE(tree.has_value());
  const brackfern::AuditEvent next = plain_event("node.enrollment.revoked");

  const std::vector<std::pair<const char*, std::string>> cases = {
      {"compact", compact(text)},
      {"members reversed", brackfern::write_pretty_json(reversed(*tree))},
      {"tabs and CRLF",
       edited(edited(text, "\n      \"sequence\"", "\r\n\t\"sequence\""), "  \"audit_log\"", "\t\"audit_log\"")},
      {"space before a colon", edited(text, "\"sequence\": 2", "\"sequence\"  :  2")},
      {"null optional members",
       edited(text, "\"actor_type\": \"system\"",
              "\"actor_type\": \"system\", \"actor_id\": null, \"display_name_encrypted\": null")},
      {"extra members",
       edited(edited(text, "\"action\": ", "\"extra\": [1, {\"a\": null, \"b\": -0.5e3}], \"action\": "),
              "\"identity\": ", "\"x\": {\"y\": [true]},\n  \"identity\": ")},
      {"empty markers written", edited(text, "\"retention_class\": \"security\"",
                                       "\"retention_class\": \"security\", \"redaction_markers\": []")},
      {"upper-case signature", upper_after(text, "\"signature\": \"", 128)},
      {"upper-case previous hash", upper_after(text, "\"previous_event_hash\": \"blake3:", 64)},
      {"upper-case uuid", upper_after(text, event_id_at, 36)},
      {"braced uuid", edited(text, event_id_at + first_id, event_id_at + "{" + first_id + "}")},
      {"urn uuid", edited(text, event_id_at + first_id, event_id_at + "urn:uuid:" + first_id)},
      {"timestamp with offset",
       edited(text, "\"" + occurred + "\"",
              "\"" + brackfern::Timestamp::from_unix(1'772'352'900 + 3600).to_rfc3339().substr(0, 19) + "+01:00\"")},
      {"timestamp with zero fraction", edited(text, "\"" + occurred + "\"", "\"" + occurred.substr(0, 19) + ".000Z\"")},
      {"escaped solidus", edited(text, "corr/1", "corr\\/1")},
      {"escaped e acute", edited(text, "\xc3\xa9", "\\u00e9")},
      {"escaped plain letter", edited(text, "\"node.enrollment.approved\"", "\"node.enrollment.\\u0061pproved\"")},
      {"upper-case control escape", edited(text, "\\u001f", "\\u001F")},
      {"long escape for a newline", edited(text, "\\n\\t", "\\u000a\\t")},
      {"byte string on one line", edited(text, "[\n            0,\n            1,", "[0, 1,")},
      {"sequence with exponent", edited(text, "\"sequence\": 2", "\"sequence\": 2e0")},
      {"sequence with leading zero", edited(text, "\"sequence\": 2", "\"sequence\": 02")},
      {"byte out of range", edited(text, "\n            255", "\n            256")},
      {"member name not UTF-8", edited(text, "\"committed\"", "\"com\xc9\xc9mitted\"")},
      {"member name in UTF-8", edited(text, "\"committed\"", "\"com\xc3\xa9mitted\"")},
      {"escaped member name", edited(text, "\"audit_log\"", "\"audit\\u005flog\"")},
      {"escaped entry member name", edited(text, "\"sequence\": 2", "\"s\\u0065quence\": 2")},
      {"duplicate unknown member", edited(text, "\"identity\": ", "\"x\": 1, \"x\": 2, \"identity\": ")},
      {"duplicate log", edited(text, "\"audit_log\": [", "\"audit_log\": [], \"audit_log\": [")},
      {"duplicate entry member", edited(text, "\"sequence\": 2", "\"sequence\": 2, \"sequence\": 2")},
      {"missing optional head members",
       edited(edited(text, "  \"committed\": null,\n", ""), "  \"audit_head\": ", "  \"audit_headx\": ")},
      {"missing log", edited(text, "\"audit_log\"", "\"audit_logs\"")},
      {"log not an array", edited(text, "\"audit_log\": [", "\"audit_log\": {\"a\": [")},
      {"entry not an object", edited(text, "\"audit_log\": [", "\"audit_log\": [17, ")},
      {"trailing comma in the log", edited(text, "\n  ]\n}", ",\n  ]\n}")},
      {"trailing comma in the state", edited(text, "\n  ]\n}", "\n  ],\n}")},
      {"trailing characters", text + " x"},
      {"trailing white space", text + " \n\t"},
      {"byte order mark", "\xef\xbb\xbf" + text},
      {"deep extra member", edited(text, "\"identity\": ",
                                   "\"deep\": " + std::string(126, '[') + std::string(126, ']') + ", \"identity\": ")},
      {"too deep extra member",
       edited(text,
              "\"identity\": ", "\"deep\": " + std::string(127, '[') + std::string(127, ']') + ", \"identity\": ")},
      {"too deep in an entry",
       edited(text, "\"action\": ", "\"deep\": " + std::string(125, '[') + std::string(125, ']') + ", \"action\": ")},
      {"empty log",
       edited(text, text.substr(text.find("\"audit_log\": [") + 13, text.size() - text.find("\"audit_log\": [") - 13),
              "[ ]\n}")},
  };
  std::size_t read = 0;
  for (const auto& [name, variant] : cases) {
    EXPECT_EQ(disagreement(variant, &next), "") << name;
    read += read_state_text(variant).has_value() ? 1 : 0;
  }
  EXPECT_EQ(read, 27u);  // the others are refused
}

TEST(StateReading, EveryJsonTestSuiteDocumentAsTheStateAsAMemberAndInsideAnEntry) {
  const std::filesystem::path dir = std::filesystem::path(ZZV_TEST_DATA_DIR) / "json_test_suite";
  std::size_t files = 0;
  for (const auto& file : std::filesystem::directory_iterator(dir)) {
    if (file.path().extension() != ".json") continue;
    ++files;
    const std::string content = test_support::slurp(file.path().string());
    const std::string name = file.path().filename().string();
    EXPECT_EQ(disagreement(content), "") << name;
    EXPECT_EQ(disagreement(edited(real_text(), "\"identity\": ", "\"x\": " + content + ", \"identity\": ")), "")
        << name << " as a member";
    EXPECT_EQ(disagreement(edited(real_text(), "\"audit_sequence\": 3", "\"audit_sequence\": " + content)), "")
        << name << " as the sequence";
    EXPECT_EQ(disagreement(edited(real_text(), "\"action\": ", "\"x\": " + content + ", \"action\": ")), "")
        << name << " inside an entry";
  }
  EXPECT_GT(files, 300u);
}

TEST(StateReading, EveryTruncationAndManyByteChangesOfARealState) {
  const std::string& text = real_text();
  for (std::size_t n = 0; n < text.size(); ++n) {
    ASSERT_EQ(disagreement(text.substr(0, n)), "") << "first " << n << " bytes";
  }
  for (std::size_t i = 0; i < text.size(); i += 3) {
    for (const char c : {'"', '}', ']', ',', ' ', '\\', '0', 'A', '\n'}) {
      std::string damaged = text;
      damaged[i] = c;
      ASSERT_EQ(disagreement(damaged), "") << "byte " << i << " as " << c;
    }
  }
}

// The first problem met reading from the start decides, whatever its kind,
// even in a large state whose later text is damaged.
TEST(StateReading, TheFirstProblemInDocumentOrderDecides) {
  const std::string bad_sequence = edited(real_text(), "\"audit_sequence\": 3", "\"audit_sequence\": \"3\"");
  const std::string sequence_error = R"(Error("invalid type: string \"3\", expected u64", line: 12, column: 23))";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {edited(bad_sequence, "\"action\": ", "\"action\" "), sequence_error},
      {edited(bad_sequence, "\"audit_log\": ", "\"audit_sequence\": 3, \"audit_log\": "), sequence_error},
      {bad_sequence.substr(0, bad_sequence.size() - 40), sequence_error},
      {edited(edited(real_text(), "\"identity\": {", "\"identity\": [{"), "\n  },", "\n  }],").substr(0, 900),
       R"(Error("invalid type: sequence, expected struct NodeIdentity", line: 2, column: 14))"},
  };
  for (const auto& c : cases) {
    auto read = read_state_text(c.text);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().debug(), c.error);
    EXPECT_NE(test_support::oracle_read(c.text).error(), read.error());  // the tree reader saw a later problem
  }
}

// Run with ZZV_WRITTEN_FILES set to where the command-line tests kept every
// JSON file they left behind (states, offers, bundles, reports, services,
// keys, and the damaged files they feed the program): each is read as each
// document by both readers.
TEST(StateReading, EveryFileTheCommandLineTestsLeftBehind) {
  const char* dir = std::getenv("ZZV_WRITTEN_FILES");
  if (dir == nullptr) GTEST_SKIP() << "ZZV_WRITTEN_FILES is not set";
  const auto as_json = [](const auto& document) { return document.to_json(); };
  std::size_t files = 0;
  std::size_t states = 0;
  for (const auto& file : std::filesystem::directory_iterator(dir)) {
    const std::string text = test_support::slurp(file.path().string());
    const std::string name = file.path().filename().string();
    ++files;
    states += read_state_text(text).has_value() ? 1 : 0;
    const brackfern::AuditEvent next = plain_event("node.enrollment.revoked");
    EXPECT_EQ(disagreement(text, &next), "") << name;
    EXPECT_EQ(brackfern::test_support::document_disagreement(text, EnrollmentOffer::from_json, as_json), "") << name;
    EXPECT_EQ(brackfern::test_support::document_disagreement(text, SignedServiceBundle::from_json, as_json), "") << name;
    EXPECT_EQ(brackfern::test_support::document_disagreement(text, PrecheckReport::from_json, as_json), "") << name;
    EXPECT_EQ(brackfern::test_support::document_disagreement(text, PostcheckReport::from_json, as_json), "") << name;
    EXPECT_EQ(brackfern::test_support::document_disagreement(text, services_from_json, services_to_json), "") << name;
  }
  EXPECT_GT(files, 100u);
  EXPECT_GT(states, 50u);
}

}  // namespace
}  // namespace quillmere
