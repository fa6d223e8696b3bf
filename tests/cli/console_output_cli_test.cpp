// What reaches the console: paths that are not UTF-8 are shown as a lossy
// decoder reads them, output that cannot be written fails the command with
// the OS error (after a changing command has saved), and a failing standard
// error never gets a partial or repeated error line.

#include "cli_harness.hpp"
#include "node_flow.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace zidazavavide {
namespace {

using testing::CliRun;
using testing::error_line;
using testing::Launch;
using testing::NodeFlowTest;
using testing::Stdin;
using testing::text_error_line;

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD
const std::string kDiskFull = error_line(R"(Os { code: 28, kind: StorageFull, message: "No space left on device" })");

class ConsoleOutputCli : public NodeFlowTest {};

TEST_F(ConsoleOutputCli, PathsThatAreNotUtf8AreShownWithReplacementCharacters) {
  const std::string r = kReplacement;
  const CliRun init = run({"node", "init", "--state", "st\xFF.json"});
  ASSERT_EQ(init.status, 0) << init.err;
  const std::string node_id = state("st\xFF.json").identity.node_id.to_string();

  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"node", "init", "--state", "st\xFF.json"},
       "",
       text_error_line("st" + r + ".json already exists; pass --force to overwrite")},
      // One replacement per maximal ill-formed subpart: F1 80 80, E1 80, C2.
      {{"node", "status", "--state",
        "a\xF1\x80\x80\xE1\x80\xC2"
        "b"},
       "",
       text_error_line("reading node state at a" + r + r + r + "b: No such file or directory (os error 2)")},
      {{"dev-cp", "keygen", "--control-plane-id", "acme", "--out", "k\xFF.json"},
       "generated dev control-plane key for 'acme' at k" + r + ".json\n",
       ""},
      {{"dev-cp", "offer", "--key", "k\xFF.json", "--node-hint", node_id, "--out", "o\xC3.json"},
       "wrote enrollment offer to o" + r + ".json\n",
       ""},
      // Usage messages too: a mistyped word is shown, never its raw bytes.
      {{"node", "status", "--bogus\xFE"},
       "",
       "The following argument was not expected: --bogus" + r +
           "\nUsage: zidazavavide node status [OPTIONS]\nRun with --help for more information.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const CliRun result = run(c.args);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
  EXPECT_EQ(init.out, "initialised node " + node_id + " at st" + r + ".json\n");
  EXPECT_TRUE(sandbox().exists("k\xFF.json"));
  EXPECT_TRUE(sandbox().exists("o\xC3.json"));
}

TEST_F(ConsoleOutputCli, OutputThatCannotBeWrittenFailsTheCommandAfterItsSave) {
  enroll_node();
  mint_bundle(1, "b1.json");
  struct Case {
    std::vector<std::string> args;
    bool saves;  // the state file changes all the same
  };
  const Case cases[] = {
      {{"node", "status"}, false},
      {{"audit", "show"}, false},
      {{"audit", "verify"}, false},
      {{"--help"}, false},
      {{"bundle", "apply", "b1.json", "--precheck", "pre-ok.json", "--postcheck", "post-ok.json"}, true},
      {{"enroll", "revoke"}, true},
      {{"enroll", "offer", "offer.json"}, true},
      // The prompt itself cannot be shown: nothing is decided or saved.
      {{"enroll", "approve"}, false},
      {{"enroll", "approve", "--yes"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size() > 1 ? c.args[0] + " " + c.args[1] : c.args[0]);
    const std::string before = state_text();
    const CliRun result = run(c.args, Stdin::text("yes\n"), Launch{"/dev/full", {}, {}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, kDiskFull);
    EXPECT_EQ(state_text() != before, c.saves);
  }
  EXPECT_EQ(actions().back(), "node.enrollment.approved");
  EXPECT_EQ(state().committed->version, 1u);

  // The files of the commands that create them are written and complete.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"node", "init", "--state", "second.json"},
        {"dev-cp", "keygen", "--control-plane-id", "acme", "--out", "k2.json"}}) {
    SCOPED_TRACE(args[1]);
    const CliRun result = run(args, Stdin{}, Launch{"/dev/full", {}, {}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, kDiskFull);
  }
  EXPECT_EQ(state("second.json").audit_sequence, 0u);
  EXPECT_TRUE(sandbox().read_file("k2.json").value_or("").ends_with("}"));
}

TEST_F(ConsoleOutputCli, UnderFailingWritesTheErrorLineIsWholeOrAbsent) {
  if (std::system("command -v fiu-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "fiu-run (fiu-utils) is not installed";
  const std::vector<std::string> fiu_run = {"fiu-run", "-x", "-f", ""};
  // Sanitizer runtimes and the preloaded fault library do not mix: such a
  // build cannot even print its help under fiu-run.
  if (run({"--help"}, Stdin{}, Launch{{}, {}, fiu_run}).status != 0) {
    GTEST_SKIP() << "this build does not run under fiu-run";
  }
  init_node();
  Launch faulty{{}, {}, fiu_run};
  faulty.wrapper.insert(faulty.wrapper.end(), {"-c", "enable_random name=posix/io/rw/write,probability=0.5"});
  const std::string refusal = text_error_line("refused: nothing is pending local owner approval");
  int whole = 0;
  for (int attempt = 0; attempt < 40; ++attempt) {
    const CliRun result = run({"enroll", "approve"}, Stdin{}, faulty);
    EXPECT_EQ(result.status, 1) << result.err;
    if (result.err.empty()) continue;
    // Either the refusal or the failed save, as one complete line.
    EXPECT_EQ(result.err.find("Error: "), 0u) << result.err;
    EXPECT_EQ(result.err.find("Error: ", 1), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    whole += result.err == refusal ? 1 : 0;
  }
  EXPECT_GT(whole, 0);
}

}  // namespace
}  // namespace zidazavavide
