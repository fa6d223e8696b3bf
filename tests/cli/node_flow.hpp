#pragma once

// A fixture for command-line tests of the node flow: a node, a development
// control plane that mints offers and bundles for it, the report files
// `bundle apply` reads, and typed views of the state file the runs leave.
//
//   class BundleCli : public NodeFlowTest {};
//   TEST_F(BundleCli, Commits) {
//     enroll_node();
//     mint_bundle(1, "b1.json");
//     EXPECT_EQ(apply("b1.json").out, "committed bundle version 1\n");
//   }

#include "cli_harness.hpp"

#include <brackfern/contracts/debug_quote.hpp>
#include <brackfern/contracts/hex.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/crypto/keys.hpp>
#include <quillmere/contracts/service_bundle.hpp>
#include <quillmere/engine/node_state.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zidazavavide::testing {

inline constexpr const char* kControlPlane = "acme-cp";

inline constexpr const char* kServicesFile = R"([
  {
    "service_id": "web",
    "artifact": {
      "kind": "container_image",
      "content_hash": "blake3:9f2c0e5a7b1d4c3e8f6a2b0d1c9e7f5a3b1d0c2e4f6a8b9c7d5e3f1a0b2c4d6e",
      "size_bytes": 48213504
    },
    "desired_state": "running",
    "restart_policy": "always"
  }
])";

inline constexpr const char* kPrecheckPassed =
    R"({"disk_space_sufficient": true, "no_conflicting_apply_in_progress": true, "artifacts_resolvable": true})";
inline constexpr const char* kPostcheckPassed = R"({"services_healthy": "passed", "no_crash_loop": "passed"})";

class NodeFlowTest : public CliTest {
 protected:
  // Runs a command that must succeed; reports its streams otherwise.
  CliRun must(const std::vector<std::string>& args, const Stdin& input = Stdin{}) {
    CliRun result = run(args, input);
    EXPECT_EQ(result.status, 0) << "command failed: " << join(args) << "\nstdout: " << result.out
                                << "\nstderr: " << result.err;
    return result;
  }

  // `node init` into node-state.json; remembers and returns the node id.
  std::string init_node() {
    must({"node", "init"});
    node_id_ = state().identity.node_id.to_string();
    return node_id_;
  }
  [[nodiscard]] const std::string& node_id() const { return node_id_; }

  void keygen(const std::string& key_file = "cp.json", const std::string& control_plane = kControlPlane) {
    must({"dev-cp", "keygen", "--control-plane-id", control_plane, "--out", key_file});
  }
  void mint_offer(const std::string& out = "offer.json", const std::string& key_file = "cp.json") {
    must({"dev-cp", "offer", "--key", key_file, "--node-hint", node_id_, "--out", out});
  }

  // A new node whose owner approved the control plane of cp.json through
  // offer.json (with --yes); the services and report files are written too.
  void enroll_node() {
    init_node();
    keygen();
    mint_offer();
    must({"enroll", "offer", "offer.json"});
    must({"enroll", "approve", "--yes"});
    write_standard_files();
  }

  // services.json, pre-ok.json and post-ok.json.
  void write_standard_files() {
    sandbox().write_file("services.json", kServicesFile);
    sandbox().write_file("pre-ok.json", kPrecheckPassed);
    sandbox().write_file("post-ok.json", kPostcheckPassed);
  }

  struct MintOptions {
    std::string key_file = "cp.json";
    std::string offer = "offer.json";
    std::string node_id;  // this node when empty
  };
  void mint_bundle(std::uint64_t version, const std::string& out, const MintOptions& options) {
    must({"dev-cp", "bundle", "--key", options.key_file, "--offer", options.offer, "--node-id",
          options.node_id.empty() ? node_id_ : options.node_id, "--version", std::to_string(version), "--services",
          "services.json", "--out", out});
  }
  void mint_bundle(std::uint64_t version, const std::string& out) { mint_bundle(version, out, MintOptions{}); }

  CliRun apply(const std::string& bundle, const std::string& precheck = "pre-ok.json",
               const std::string& postcheck = "post-ok.json") {
    return run({"bundle", "apply", bundle, "--precheck", precheck, "--postcheck", postcheck});
  }

  // Re-signs a bundle file with the key of `key_file` after `change` has
  // altered its header (an expiry, another context, ...).
  void resign_bundle(const std::string& bundle_file, const std::string& key_file,
                     const std::function<void(brackfern::EnvelopeHeader&)>& change) {
    auto envelope = read_as<quillmere::SignedServiceBundle>(bundle_file);
    auto key_document = brackfern::parse_json(sandbox().read_file(key_file).value_or(""));
    ASSERT_TRUE(key_document.has_value());
    const auto seed = brackfern::decode_hex_exact<32>(*key_document->find("seed_hex")->as_string());
    ASSERT_TRUE(seed.has_value());
    const brackfern::SigningKey key = brackfern::SigningKey::from_seed(*seed);
    change(envelope.header);
    auto signature = key.sign(envelope.signing_view());
    ASSERT_TRUE(signature.has_value());
    envelope.signature = *signature;
    sandbox().write_file(bundle_file, brackfern::write_pretty_json(envelope.to_json()));
  }

  // The state file's bytes ("" when it cannot be read).
  std::string state_text(const std::string& name = "node-state.json") { return sandbox().read_file(name).value_or(""); }
  // The state file as the engine reads it.
  quillmere::NodeState state(const std::string& name = "node-state.json") {
    auto loaded = quillmere::load_state(sandbox().path(name));
    if (!loaded) {
      ADD_FAILURE() << "state " << name << " does not load";
      return quillmere::NodeState::create(quillmere::NodeIdentity::generate(brackfern::NodeId::create()));
    }
    return std::move(*loaded);
  }
  // The actions of the audit log, oldest first.
  std::vector<std::string> actions(const std::string& name = "node-state.json") {
    std::vector<std::string> out;
    for (const brackfern::SignedAuditEvent& entry : state(name).audit_log) out.push_back(entry.event.action);
    return out;
  }

  template <class Document>
  Document read_as(const std::string& file) {
    auto value = brackfern::parse_json(sandbox().read_file(file).value_or(""));
    EXPECT_TRUE(value.has_value()) << file;
    auto document = brackfern::read_tree<Document>(value.value_or(brackfern::JsonValue{}));
    EXPECT_TRUE(document.has_value()) << file;
    return std::move(document.value());
  }

 private:
  static std::string join(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& word : words) out += (out.empty() ? "" : " ") + word;
    return out;
  }

  std::string node_id_;
};

// Names parameterised cases after their `name` member.
struct ParamName {
  template <class Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& param_info) const {
    return param_info.param.name;
  }
};

// The same prefix for every failure line, so expectations read like the console.
inline std::string error_line(const std::string& debug_form) {
  return "Error: " + debug_form + "\n";
}
inline std::string text_error_line(const std::string& message) {
  return error_line(brackfern::debug_quote(message));
}

}  // namespace zidazavavide::testing
