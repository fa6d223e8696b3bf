// The command tree: what each command line parses into, and which command
// lines are usage errors (status 2, CLI11's message and a usage line on
// standard error, nothing on standard output, no file touched).

#include "cli_harness.hpp"
#include "command_tree.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zidazavavide {
namespace {

using testing::CliRun;
using testing::CliTest;

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
  return text;
}

TEST(CommandTree, ParsesEveryLeafWithItsArguments) {
  struct Case {
    std::vector<std::string> args;
    Command expected;
  };
  const Case cases[] = {
      {{"node", "init"}, NodeInit{"node-state.json", std::nullopt, false}},
      {{"node", "init", "--state", "s.json", "--node-id", "N", "--force"}, NodeInit{"s.json", "N", true}},
      {{"node", "init", "--force", "--node-id=", "--state=a=b"}, NodeInit{"a=b", "", true}},
      // An empty value after '=' is that empty value; it never swallows the next word.
      {{"node", "init", "--node-id=", "--force"}, NodeInit{"node-state.json", "", true}},
      {{"node", "status"}, NodeStatus{"node-state.json"}},
      {{"node", "status", "--state="}, NodeStatus{""}},
      {{"node", "status", "--state=other.json"}, NodeStatus{"other.json"}},
      {{"enroll", "offer", "offer.json"}, EnrollOffer{"offer.json", "node-state.json"}},
      {{"enroll", "offer", "--state", "s", "o"}, EnrollOffer{"o", "s"}},
      {{"enroll", "approve"}, EnrollApprove{"node-state.json", false}},
      {{"enroll", "approve", "--yes", "--state", "s"}, EnrollApprove{"s", true}},
      {{"enroll", "revoke"}, EnrollRevoke{"node-state.json"}},
      {{"bundle", "apply", "b.json", "--precheck", "pre.json", "--postcheck=post.json"},
       BundleApply{"b.json", "node-state.json", "pre.json", "post.json"}},
      {{"bundle", "apply", "--postcheck", "z", "--precheck", "y", "--state", "s", "x"},
       BundleApply{"x", "s", "y", "z"}},
      {{"audit", "show"}, AuditShow{"node-state.json"}},
      {{"audit", "verify", "--state", "v"}, AuditVerify{"v"}},
      {{"dev-cp", "keygen", "--control-plane-id", "Acme Corp", "--out", "cp.json"},
       DevCpKeygen{"Acme Corp", "cp.json"}},
      {{"dev-cp", "offer", "--key", "k", "--node-hint", "h", "--out", "o"}, DevCpOffer{"k", "h", "o"}},
      {{"dev-cp", "bundle", "--key", "k", "--offer", "o", "--node-id", "n", "--version", "7", "--services", "s",
        "--out", "b"},
       DevCpBundle{"k", "o", "n", 7, "s", "b"}},
      {{"dev-cp", "bundle", "--key=k", "--offer=o", "--node-id=n", "--version=0", "--services=s", "--out=b"},
       DevCpBundle{"k", "o", "n", 0, "s", "b"}},
      {{"dev-cp", "bundle", "--key", "k", "--offer", "o", "--node-id", "n", "--version", "18446744073709551615",
        "--services", "s", "--out", "b"},
       DevCpBundle{"k", "o", "n", 18446744073709551615ULL, "s", "b"}},
      // Decimal digits only: a leading zero does not make it octal.
      {{"dev-cp", "bundle", "--key", "k", "--offer", "o", "--node-id", "n", "--version", "010", "--services", "s",
        "--out", "b"},
       DevCpBundle{"k", "o", "n", 10, "s", "b"}},
      // A value that starts with a dash is given after '='; a lone dash is a value as it is.
      {{"node", "status", "--state=-odd-name"}, NodeStatus{"-odd-name"}},
      {{"node", "init", "--state=--force"}, NodeInit{"--force", std::nullopt, false}},
      {{"node", "status", "--state", "-"}, NodeStatus{"-"}},
      // Paths may hold any bytes; identifiers that are UTF-8 pass as they are.
      {{"node", "status", "--state", "st\xFF.json"}, NodeStatus{"st\xFF.json"}},
      {{"dev-cp", "keygen", "--control-plane-id", "Z\xC3\xBCrich", "--out", "k\xFE"},
       DevCpKeygen{"Z\xC3\xBCrich", "k\xFE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.args));
    const ParseOutcome parsed = parse_command_line(c.args);
    const auto* command = std::get_if<Command>(&parsed);
    ASSERT_NE(command, nullptr) << std::get<ParseExit>(parsed).err;
    EXPECT_EQ(command->index(), c.expected.index());
    EXPECT_TRUE(*command == c.expected);
  }
}

TEST(CommandTree, AnEmptyNodeIdIsStillGiven) {
  // `--node-id ""` must reach the handler (which refuses it), not turn into
  // "generate one".
  const ParseOutcome parsed = parse_command_line({"node", "init", "--node-id", ""});
  ASSERT_TRUE(std::holds_alternative<Command>(parsed));
  const auto& init = std::get<NodeInit>(std::get<Command>(parsed));
  ASSERT_TRUE(init.node_id.has_value());
  EXPECT_EQ(*init.node_id, "");
}

struct UsageCase {
  std::vector<std::string> args;
  std::string first_line;  // CLI11's message
  std::string usage_line;
};

class UsageErrors : public CliTest {};

TEST_F(UsageErrors, EndWithStatusTwoAndTouchNothing) {
  const std::string bundle_usage = "Usage: zidazavavide dev-cp bundle [OPTIONS]";
  const auto bundle_with_version = [](const std::string& version) {
    return std::vector<std::string>{"dev-cp",    "bundle", "--key",      "k.json",
                                    "--offer",   "o.json", "--node-id",  "6f1c1f3e-2f4a-4b7e-9d55-0d8a1c2b3e4f",
                                    "--version", version,  "--services", "s.json",
                                    "--out",     "b.json"};
  };
  const auto version_message = [](const std::string& version) {
    return "--version: '" + version +
           "' is not a decimal unsigned 64-bit number (digits only, no sign, at most "
           "18446744073709551615)";
  };
  const UsageCase cases[] = {
      {{"enroll", "offer"}, "OFFER is required", "Usage: zidazavavide enroll offer [OPTIONS] OFFER"},
      {{"bundle", "apply", "b.json", "--precheck", "p.json"},
       "--postcheck is required",
       "Usage: zidazavavide bundle apply [OPTIONS] BUNDLE"},
      {{"bundle", "apply", "--precheck", "p.json", "--postcheck", "q.json"},
       "BUNDLE is required",
       "Usage: zidazavavide bundle apply [OPTIONS] BUNDLE"},
      {bundle_with_version("1.5"), version_message("1.5"), bundle_usage},
      {bundle_with_version("-1"),
       "the option '--version <VERSION>' needs a value; to give it '-1', write '--version=-1'", bundle_usage},
      {bundle_with_version("+3"), version_message("+3"), bundle_usage},
      {bundle_with_version("0x10"), version_message("0x10"), bundle_usage},
      {bundle_with_version("18446744073709551616"), version_message("18446744073709551616"), bundle_usage},
      {bundle_with_version("99999999999999999999999"), version_message("99999999999999999999999"), bundle_usage},
      {bundle_with_version(""), version_message(""), bundle_usage},
      {bundle_with_version(" 1"), version_message(" 1"), bundle_usage},
      {bundle_with_version("1e3"), version_message("1e3"), bundle_usage},
      {{"dev-cp", "keygen", "--control-plane-id", "acme", "--out", "k.json", "--state", "s.json"},
       "The following arguments were not expected: --state s.json",
       "Usage: zidazavavide dev-cp keygen [OPTIONS]"},
      {{"dev-cp", "keygen", "--out", "k.json"},
       "--control-plane-id is required",
       "Usage: zidazavavide dev-cp keygen [OPTIONS]"},
      {{"node", "init", "--force=false"},
       "the flag '--force' takes no value; write '--force' alone",
       "Usage: zidazavavide node init [OPTIONS]"},
      {{"node", "init", "--force="},
       "the flag '--force' takes no value; write '--force' alone",
       "Usage: zidazavavide node init [OPTIONS]"},
      {{"node", "status", "a", "b", "c"},
       "The following arguments were not expected: a b c",
       "Usage: zidazavavide node status [OPTIONS]"},
      {{"node", "init", "status"},
       "The following argument was not expected: status",
       "Usage: zidazavavide node init [OPTIONS]"},
      {{"node", "status", "--state"},
       "the option '--state <STATE>' needs a value",
       "Usage: zidazavavide node status [OPTIONS]"},
      {{"enroll", "approve", "-y"},
       "The following argument was not expected: -y; did you mean '--yes'?",
       "Usage: zidazavavide enroll approve [OPTIONS]"},
      {{"bogus"}, "The following argument was not expected: bogus", "Usage: zidazavavide [OPTIONS] SUBCOMMAND"},
      {{"--version"}, "The following argument was not expected: --version", "Usage: zidazavavide [OPTIONS] SUBCOMMAND"},
      {{"node", "bogus"},
       "The following argument was not expected: bogus",
       "Usage: zidazavavide node [OPTIONS] SUBCOMMAND"},
      {{"help", "bogus"},
       "the subcommand 'bogus' wasn't recognized",
       "Usage: zidazavavide help [OPTIONS] [COMMAND...]"},
      {{"node", "help", "init", "extra"},
       "the subcommand 'extra' wasn't recognized",
       "Usage: zidazavavide node help [OPTIONS] [COMMAND...]"},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(joined(c.args));
    const CliRun result = run(c.args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.first_line + "\n" + c.usage_line + "\nRun with --help for more information.\n");
    EXPECT_TRUE(sandbox().entries().empty());
  }
}

TEST_F(UsageErrors, TheLargestVersionReachesTheHandler) {
  // Not a usage error: the handler runs and fails on the missing key file.
  const CliRun result = run({"dev-cp", "bundle", "--key", "absent-key.json", "--offer", "o.json", "--node-id",
                             "6f1c1f3e-2f4a-4b7e-9d55-0d8a1c2b3e4f", "--version", "18446744073709551615", "--services",
                             "s.json", "--out", "b.json"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("Error: ", 0), 0u) << result.err;
  EXPECT_FALSE(sandbox().exists("b.json"));
}

TEST_F(UsageErrors, UsageErrorsReadNoInputAndWriteNoState) {
  // A usage error stops before any handler: an existing state file and any
  // standard input stay untouched.
  sandbox().write_file("node-state.json", "not json at all");
  const CliRun result = run({"node", "init", "--force", "--bogus"}, testing::Stdin::text("yes\n"));
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(sandbox().read_file("node-state.json"), "not json at all");
  EXPECT_EQ(sandbox().entries(), std::vector<std::string>{"node-state.json"});
}

}  // namespace
}  // namespace zidazavavide
