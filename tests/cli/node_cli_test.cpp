// node init and node status, run through the real binary.

#include "cli_harness.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace zidazavavide::testing {
namespace {

const std::regex kInitLine(
    "initialised node ([0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}) at (.*)\n");
const std::regex kSeedMember("\"audit_signing_key_seed\": \"([0-9a-f]{64})\"");

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

// The node id printed by a successful init.
std::string printed_node_id(const CliRun& run) {
  std::smatch match;
  if (!std::regex_match(run.out, match, kInitLine)) return "";
  return match[1].str();
}

std::string seed_in(const std::string& state_text) {
  std::smatch match;
  if (!std::regex_search(state_text, match, kSeedMember)) return "";
  return match[1].str();
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

class NodeInitCli : public CliTest {};
class NodeStatusCli : public CliTest {};

TEST_F(NodeInitCli, WritesANewOwnerOnlyStateAndPrintsItsId) {
  const CliRun init = run({"node", "init"});
  ASSERT_EQ(init.status, 0) << init.err;
  EXPECT_EQ(init.err, "");
  const std::string node_id = printed_node_id(init);
  ASSERT_FALSE(node_id.empty()) << init.out;
  EXPECT_EQ(init.out, "initialised node " + node_id + " at node-state.json\n");

  const auto text = sandbox().read_file("node-state.json");
  ASSERT_TRUE(text.has_value());
  const std::string seed = seed_in(*text);
  ASSERT_FALSE(seed.empty()) << *text;
  EXPECT_EQ(*text, new_node_text(node_id, seed));
  EXPECT_EQ(text->back(), '}');
  EXPECT_EQ(mode_of(sandbox().path("node-state.json")), 0600u);
}

TEST_F(NodeInitCli, RefusesAnExistingFileAndLeavesItAlone) {
  ASSERT_EQ(run({"node", "init"}).status, 0);
  const auto before = sandbox().read_file("node-state.json");

  const CliRun again = run({"node", "init"});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(again.err, "Error: \"node-state.json already exists; pass --force to overwrite\"\n");
  EXPECT_EQ(sandbox().read_file("node-state.json"), before);
}

TEST_F(NodeInitCli, TheExistenceCheckComesBeforeTheNodeId) {
  ASSERT_EQ(run({"node", "init"}).status, 0);
  const CliRun again = run({"node", "init", "--node-id", "not-a-uuid"});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "Error: \"node-state.json already exists; pass --force to overwrite\"\n");
}

TEST_F(NodeInitCli, ForceReplacesTheNodeWithANewIdAndSeed) {
  const CliRun first = run({"node", "init"});
  ASSERT_EQ(first.status, 0);
  const std::string first_seed = seed_in(*sandbox().read_file("node-state.json"));

  const CliRun forced = run({"node", "init", "--force"});
  ASSERT_EQ(forced.status, 0) << forced.err;
  const std::string second_id = printed_node_id(forced);
  ASSERT_FALSE(second_id.empty());
  EXPECT_NE(second_id, printed_node_id(first));
  const auto text = sandbox().read_file("node-state.json");
  const std::string second_seed = seed_in(*text);
  EXPECT_NE(second_seed, first_seed);
  EXPECT_EQ(*text, new_node_text(second_id, second_seed));
}

TEST_F(NodeInitCli, ADirectoryAtThePathAlreadyExistsAndCannotBeWritten) {
  std::filesystem::create_directory(sandbox().path("state-dir"));

  const CliRun plain = run({"node", "init", "--state", "state-dir"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.err, "Error: \"state-dir already exists; pass --force to overwrite\"\n");

  const CliRun forced = run({"node", "init", "--state", "state-dir", "--force"});
  EXPECT_EQ(forced.status, 1);
  EXPECT_EQ(forced.out, "");
  EXPECT_EQ(forced.err, "Error: \"writing node state to state-dir: Is a directory (os error 21)\"\n");
  EXPECT_TRUE(std::filesystem::is_empty(sandbox().path("state-dir")));
}

TEST_F(NodeInitCli, AMissingDirectoryIsAWritingError) {
  const CliRun init = run({"node", "init", "--state", "missing/state.json"});
  EXPECT_EQ(init.status, 1);
  EXPECT_EQ(init.err, "Error: \"writing node state to missing/state.json: No such file or directory (os error 2)\"\n");
  EXPECT_FALSE(sandbox().exists("missing"));
}

TEST_F(NodeInitCli, ADanglingSymbolicLinkCountsAsNothingAndItsTargetIsCreated) {
  std::filesystem::create_symlink("real-state.json", sandbox().path("node-state.json"));
  const CliRun init = run({"node", "init"});
  ASSERT_EQ(init.status, 0) << init.err;
  EXPECT_TRUE(std::filesystem::is_symlink(sandbox().path("node-state.json")));
  ASSERT_TRUE(sandbox().exists("real-state.json"));
  EXPECT_EQ(run({"node", "status"}).status, 0);
}

TEST_F(NodeInitCli, ForceThroughASymbolicLinkReplacesTheTargetAndKeepsTheLink) {
  ASSERT_EQ(run({"node", "init", "--state", "real-state.json"}).status, 0);
  std::filesystem::create_symlink("real-state.json", sandbox().path("node-state.json"));

  const CliRun plain = run({"node", "init"});
  EXPECT_EQ(plain.err, "Error: \"node-state.json already exists; pass --force to overwrite\"\n");

  const CliRun forced = run({"node", "init", "--force"});
  ASSERT_EQ(forced.status, 0) << forced.err;
  EXPECT_TRUE(std::filesystem::is_symlink(sandbox().path("node-state.json")));
  const auto text = sandbox().read_file("real-state.json");
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(text->find(printed_node_id(forced)), std::string::npos);
}

struct NodeIdCase {
  const char* given;
  const char* printed;  // nullptr: refused
};

TEST_F(NodeInitCli, NodeIdFormsArePrintedCanonicallyOrRefused) {
  const NodeIdCase cases[] = {
      {"6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f", "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f"},
      {"6F1C2B7E-3D4A-4C5B-9E8F-0A1B2C3D4E5F", "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f"},
      {"{6F1C2B7E-3D4A-4C5B-9E8F-0A1B2C3D4E5F}", "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f"},
      {"6F1C2B7E3D4A4C5B9E8F0A1B2C3D4E5F", "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f"},
      {"urn:uuid:6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f", "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f"},
      {"not-a-uuid", nullptr},
      {"6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5", nullptr},
      {"6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5g", nullptr},
      {"", nullptr},
  };
  for (const NodeIdCase& c : cases) {
    SCOPED_TRACE(c.given);
    std::filesystem::remove(sandbox().path("node-state.json"));
    const CliRun init = run({"node", "init", "--node-id", c.given});
    if (c.printed != nullptr) {
      EXPECT_EQ(init.status, 0) << init.err;
      EXPECT_EQ(init.out, std::string("initialised node ") + c.printed + " at node-state.json\n");
      EXPECT_EQ(run({"node", "status"}).out.substr(0, 17 + 36), std::string("node_id:         ") + c.printed);
    } else {
      EXPECT_EQ(init.status, 1);
      EXPECT_EQ(init.out, "");
      EXPECT_EQ(init.err.rfind("Error: InvalidIdentifier { kind: \"NodeId\", reason: \"", 0), 0u) << init.err;
      EXPECT_EQ(init.err.substr(init.err.size() - 4), "\" }\n") << init.err;
      EXPECT_FALSE(sandbox().exists("node-state.json"));
    }
  }
}

TEST_F(NodeStatusCli, ANewNodeShowsTheFourLines) {
  const CliRun init = run({"node", "init", "--node-id", "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f"});
  ASSERT_EQ(init.status, 0) << init.err;
  const CliRun status = run({"node", "status"});
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.err, "");
  EXPECT_EQ(status.out,
            "node_id:         6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f\n"
            "enrollment:      unenrolled\n"
            "committed:       none\n"
            "audit_sequence:  0\n");
}

struct EnrollmentCase {
  const char* name;
  const char* enrollment_json;
  const char* summary;
};

TEST_F(NodeStatusCli, SummarisesEachEnrollmentStateAndTheCommittedVersion) {
  const EnrollmentCase cases[] = {
      {"unenrolled", R"({"status": "unenrolled"})", "unenrolled"},
      {"pending",
       R"({"status": "pending_owner_approval", "control_plane_id": "acme-cp",
           "key_id": "0b6f4a52-63d1-4d57-8f0e-3c2a1b0d9e8f",
           "public_key": "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
           "offered_at": "2026-03-01T08:00:00Z"})",
       "pending_owner_approval (control plane: acme-cp)"},
      {"enrolled",
       R"({"status": "enrolled", "control_plane_id": "acme-cp",
           "key_id": "0b6f4a52-63d1-4d57-8f0e-3c2a1b0d9e8f",
           "public_key": "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
           "enrolled_at": "2026-03-01T08:05:00Z",
           "approval": {"approved_at": "2026-03-01T08:05:00Z", "method": "local_config_file"}})",
       "enrolled (control plane: acme-cp)"},
      {"revoked", R"({"status": "revoked", "previously": "old-cp", "revoked_at": "2026-03-02T09:00:00Z"})",
       "revoked (previously: old-cp)"},
  };
  for (const EnrollmentCase& c : cases) {
    SCOPED_TRACE(c.name);
    sandbox().write_file("node-state.json", std::string(
                                                R"({"identity": {"node_id": "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f",
                                         "audit_signing_key_seed": "00"},
                           "enrollment": )") + c.enrollment_json +
                                                R"(, "committed": {"version": 18446744073709551615, "services": [],
                                                "committed_at": "2026-03-01T08:15:00Z"},
                           "audit_sequence": 42, "audit_log": []})");
    const auto before = sandbox().read_file("node-state.json");
    const CliRun status = run({"node", "status"});
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_EQ(status.out, std::string("node_id:         6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f\n"
                                      "enrollment:      ") +
                              c.summary +
                              "\n"
                              "committed:       18446744073709551615\n"
                              "audit_sequence:  42\n");
    // Read-only: nothing written, not even a lock file.
    EXPECT_EQ(sandbox().read_file("node-state.json"), before);
    EXPECT_EQ(sandbox().entries(), std::vector<std::string>{"node-state.json"});
  }
}

TEST_F(NodeStatusCli, AMissingStateIsAReadingError) {
  const CliRun status = run({"node", "status"});
  EXPECT_EQ(status.status, 1);
  EXPECT_EQ(status.out, "");
  EXPECT_EQ(status.err, "Error: \"reading node state at node-state.json: No such file or directory (os error 2)\"\n");
}

TEST_F(NodeStatusCli, StateThatIsNotUtf8IsAReadingError) {
  sandbox().write_file("other.json", "{\"identity\": \"\xc3\x28\"}");
  const CliRun status = run({"node", "status", "--state", "other.json"});
  EXPECT_EQ(status.status, 1);
  EXPECT_EQ(status.err, "Error: \"reading node state at other.json: stream did not contain valid UTF-8\"\n");
}

}  // namespace
}  // namespace zidazavavide::testing
