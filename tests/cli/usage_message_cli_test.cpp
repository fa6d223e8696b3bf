// Usage errors a person can act on: a flag given a value, an option whose
// value is missing or looks like another option, a text argument that is not
// UTF-8, a repeated option or flag, and a near miss of a command or option.
// Each ends with status 2, one sentence naming the argument as the command
// line spells it, the usage line and the help hint, and touches no file.

#include "cli_harness.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zidazavavide {
namespace {

using testing::CliRun;
using testing::CliTest;
using testing::Stdin;

constexpr const char* kOldState = "an existing state file that no usage error may touch";

class UsageMessages : public CliTest {};

TEST_F(UsageMessages, NameTheArgumentAndTouchNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
    std::string usage;  // the usage line after "Usage: zidazavavide "
  };
  const std::string bad = "ac\xFFme";
  const Case cases[] = {
      // A flag is present or absent, never given a value.
      {{"enroll", "approve", "--yes=true"},
       "the flag '--yes' takes no value; write '--yes' alone",
       "enroll approve [OPTIONS]"},
      {{"node", "init", "--force=true"},
       "the flag '--force' takes no value; write '--force' alone",
       "node init [OPTIONS]"},
      {{"--help=1"}, "the flag '--help' takes no value; write '--help' alone", "[OPTIONS] SUBCOMMAND"},
      {{"-h=1"}, "the flag '-h' takes no value; write '-h' alone", "[OPTIONS] SUBCOMMAND"},
      {{"node", "status", "-h=1"}, "the flag '-h' takes no value; write '-h' alone", "node status [OPTIONS]"},
      {{"node", "init", "--help="}, "the flag '--help' takes no value; write '--help' alone", "node init [OPTIONS]"},
      // A word that looks like an option is never taken as a value.
      {{"node", "init", "--state", "--force"},
       "the option '--state <STATE>' needs a value; to give it '--force', write '--state=--force'",
       "node init [OPTIONS]"},
      {{"node", "init", "--state", "--help"},
       "the option '--state <STATE>' needs a value; to give it '--help', write '--state=--help'",
       "node init [OPTIONS]"},
      {{"node", "init", "--node-id", "-x", "--force"},
       "the option '--node-id <NODE_ID>' needs a value; to give it '-x', write '--node-id=-x'",
       "node init [OPTIONS]"},
      {{"node", "status", "--state", "--"},
       "the option '--state <STATE>' needs a value; to give it '--', write '--state=--'",
       "node status [OPTIONS]"},
      {{"bundle", "apply", "b.json", "--precheck", "--postcheck", "q.json"},
       "the option '--precheck <PRECHECK>' needs a value; to give it '--postcheck', write '--precheck=--postcheck'",
       "bundle apply [OPTIONS] BUNDLE"},
      {{"dev-cp", "keygen", "--control-plane-id", "acme", "--out"},
       "the option '--out <OUT>' needs a value",
       "dev-cp keygen [OPTIONS]"},
      // Text arguments must be UTF-8 (paths may hold any bytes).
      {{"dev-cp", "keygen", "--control-plane-id", bad, "--out", "k.json"},
       "the value of '--control-plane-id <CONTROL_PLANE_ID>' is not valid UTF-8",
       "dev-cp keygen [OPTIONS]"},
      {{"dev-cp", "offer", "--key", "k.json", "--node-hint=" + bad, "--out", "o.json"},
       "the value of '--node-hint <NODE_HINT>' is not valid UTF-8",
       "dev-cp offer [OPTIONS]"},
      {{"node", "init", "--force", "--node-id", "\xC3"},
       "the value of '--node-id <NODE_ID>' is not valid UTF-8",
       "node init [OPTIONS]"},
      {{"dev-cp", "bundle", "--key", "k", "--offer", "o", "--node-id", "\xED\xA0\x80", "--version", "1", "--services",
        "s", "--out", "b"},
       "the value of '--node-id <NODE_ID>' is not valid UTF-8",
       "dev-cp bundle [OPTIONS]"},
      // A repeated option and a repeated flag are refused alike, however written.
      {{"node", "init", "--state", "a", "--state", "b"},
       "the option '--state <STATE>' can be given only once",
       "node init [OPTIONS]"},
      {{"node", "status", "--state=a", "--state", "a"},
       "the option '--state <STATE>' can be given only once",
       "node status [OPTIONS]"},
      {{"enroll", "approve", "--yes", "--yes"}, "the flag '--yes' can be given only once", "enroll approve [OPTIONS]"},
      {{"node", "init", "--force", "--state", "s", "--force"},
       "the flag '--force' can be given only once",
       "node init [OPTIONS]"},
      // Near misses are answered with the nearest command or option.
      {{"node", "stauts"},
       "The following argument was not expected: stauts; did you mean 'status'?",
       "node [OPTIONS] SUBCOMMAND"},
      {{"enroll", "aprove", "--yes"},
       "The following arguments were not expected: aprove --yes; did you mean "
       "'approve' for 'aprove'?",
       "enroll [OPTIONS] SUBCOMMAND"},
      {{"ndoe", "init"},
       "The following arguments were not expected: ndoe init; did you mean 'node' for 'ndoe'?",
       "[OPTIONS] SUBCOMMAND"},
      {{"node", "status", "--stat", "s.json"},
       "The following arguments were not expected: --stat s.json; did you mean '--state' for '--stat'?",
       "node status [OPTIONS]"},
      {{"node", "init", "--forse"},
       "The following argument was not expected: --forse; did you mean '--force'?",
       "node init [OPTIONS]"},
      {{"node", "status", "-state=s.json"},
       "The following argument was not expected: -state=s.json; did you mean '--state'?",
       "node status [OPTIONS]"},
      {{"help", "node", "stauts"},
       "the subcommand 'stauts' wasn't recognized; did you mean 'status'?",
       "help [OPTIONS] [COMMAND...]"},
      // Nothing near: no guess.
      {{"node", "frobnicate"}, "The following argument was not expected: frobnicate", "node [OPTIONS] SUBCOMMAND"},
      // Written with '=', a value starting with a dash is still checked as a number.
      {{"dev-cp", "bundle", "--key", "k", "--offer", "o", "--node-id", "n", "--version=-1", "--services", "s", "--out",
        "b"},
       "--version: '-1' is not a decimal unsigned 64-bit number (digits only, no sign, at most "
       "18446744073709551615)",
       "dev-cp bundle [OPTIONS]"},
  };
  sandbox().write_file("node-state.json", kOldState);
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& arg : c.args) line += arg + " ";
    SCOPED_TRACE(line);
    const CliRun result = run(c.args, Stdin::text("yes\n"));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.message + "\nUsage: zidazavavide " + c.usage + "\nRun with --help for more information.\n");
    EXPECT_EQ(sandbox().entries(), std::vector<std::string>{"node-state.json"});
    EXPECT_EQ(sandbox().read_file("node-state.json"), kOldState);
  }
}

TEST_F(UsageMessages, AValueAfterEqualsOrALoneDashIsTakenAsItIs) {
  struct Case {
    std::vector<std::string> args;
    std::string file;
  };
  const Case cases[] = {
      {{"node", "init", "--state=--force"}, "--force"},
      {{"node", "init", "--state", "-"}, "-"},
      {{"node", "init", "--state", "st\xFF.json"}, "st\xFF.json"},  // any bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const CliRun result = run(c.args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(sandbox().exists(c.file));
  }
}

}  // namespace
}  // namespace zidazavavide
