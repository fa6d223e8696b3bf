// The program's entry: where help goes and with which status, the `help`
// subcommands, a group given without its subcommand, and how a failed
// command is reported.

#include "cli_harness.hpp"
#include "run.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace zidazavavide {
namespace {

using testing::CliRun;
using testing::CliTest;
using testing::Stdin;

const char* const kTopLevelHelp =
    "Quillmere managed-node agent — enrollment and signed service-bundle updates, nothing else\n"
    "Usage: zidazavavide [OPTIONS] SUBCOMMAND\n"
    "\n"
    "Options:\n"
    "  -h,--help                   Print this help message and exit\n"
    "\n"
    "Subcommands:\n"
    "  node                        This node's own local identity and state file\n"
    "  enroll                      Enrollment with a control plane. `approve` and `revoke` only ever run at this "
    "node's own console — see STATUS.md\n"
    "  bundle                      Admit and apply a signed service bundle\n"
    "  audit                       Inspect this node's tamper-evident local audit log\n"
    "  dev-cp                      Offline test harness that plays a control plane, for exercising this CLI "
    "without a second product or a network. NOT part of Quillmere's own trust surface\n"
    "  help                        Print this message or the help of the given subcommand(s)\n"
    "\n";

class Entry : public CliTest {};

TEST_F(Entry, ProgramAlonePrintsTopLevelHelpOnStandardErrorWithStatusTwo) {
  const CliRun result = run({});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kTopLevelHelp);
}

TEST_F(Entry, HelpRequestsPrintOnStandardOutputWithStatusZero) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"-h"}, {"help"}}) {
    SCOPED_TRACE(args.front());
    const CliRun result = run(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kTopLevelHelp);
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(Entry, EveryGroupWithoutALeafPrintsItsHelpOnStandardErrorWithStatusTwo) {
  struct Case {
    std::string group;
    std::vector<std::string> leaves;
  };
  const Case cases[] = {
      {"node", {"init", "status"}},  {"enroll", {"offer", "approve", "revoke"}}, {"bundle", {"apply"}},
      {"audit", {"show", "verify"}}, {"dev-cp", {"keygen", "offer", "bundle"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.group);
    const CliRun bare = run({c.group});
    const CliRun asked = run({c.group, "--help"});
    const CliRun help_leaf = run({c.group, "help"});
    const CliRun via_top = run({"help", c.group});

    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_EQ(asked.status, 0);
    EXPECT_EQ(asked.err, "");
    EXPECT_EQ(bare.err, asked.out);
    EXPECT_EQ(help_leaf.status, 0);
    EXPECT_EQ(help_leaf.out, asked.out);
    EXPECT_EQ(via_top.status, 0);
    EXPECT_EQ(via_top.out, asked.out);

    EXPECT_NE(asked.out.find("Usage: zidazavavide " + c.group + " [OPTIONS] SUBCOMMAND\n"), std::string::npos);
    // Leaves are listed in declaration order, followed by `help`.
    std::size_t at = 0;
    for (const std::string& leaf : c.leaves) {
      const std::size_t found = asked.out.find("\n  " + leaf + " ", at);
      EXPECT_NE(found, std::string::npos) << leaf;
      at = found;
    }
    EXPECT_NE(asked.out.find("\n  help ", at), std::string::npos);
  }
}

TEST_F(Entry, LeafHelpIsTheSameFromEveryRoute) {
  const CliRun asked = run({"bundle", "apply", "--help"});
  EXPECT_EQ(asked.status, 0);
  EXPECT_EQ(asked.err, "");
  EXPECT_EQ(asked.out,
            "Run the full pipeline: admission → pre-check → apply → post-check → commit-or-rollback\n"
            "Usage: zidazavavide bundle apply [OPTIONS] BUNDLE\n"
            "\n"
            "Positionals:\n"
            "  BUNDLE REQUIRED             \n"
            "\n"
            "Options:\n"
            "  -h,--help                   Print this help message and exit\n"
            "  --state STATE=node-state.json\n"
            "  --precheck PRECHECK REQUIRED\n"
            "  --postcheck POSTCHECK REQUIRED\n"
            "\n");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"bundle", "apply", "-h"},
                                               {"bundle", "-h", "apply"},
                                               {"bundle", "help", "apply"},
                                               {"help", "bundle", "apply"},
                                               // Help wins over a missing required argument.
                                               {"bundle", "apply", "x", "--help"}}) {
    SCOPED_TRACE(args.back());
    const CliRun result = run(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, asked.out);
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(Entry, HelpShowsValueNamesAndDefaults) {
  const CliRun init = run({"node", "init", "--help"});
  EXPECT_NE(init.out.find("  --state STATE=node-state.json\n"), std::string::npos) << init.out;
  EXPECT_NE(init.out.find("  --node-id NODE_ID "), std::string::npos) << init.out;
  EXPECT_NE(init.out.find("  --force "), std::string::npos) << init.out;

  const CliRun bundle = run({"dev-cp", "bundle", "--help"});
  for (const char* line : {"--key KEY REQUIRED", "--offer OFFER REQUIRED", "--node-id NODE_ID REQUIRED",
                           "--version VERSION REQUIRED", "--services SERVICES REQUIRED", "--out OUT REQUIRED"}) {
    EXPECT_NE(bundle.out.find(line), std::string::npos) << line;
  }
  // The dev-cp commands never touch the node state file.
  EXPECT_EQ(bundle.out.find("--state"), std::string::npos);
}

TEST_F(Entry, AFailingCommandPrintsOneErrorLineAndNothingElse) {
  const std::vector<std::vector<std::string>> failing = {
      {"node", "status", "--state", "absent.json"},
      {"audit", "show", "--state", "absent.json"},
      {"audit", "verify", "--state", "absent.json"},
      {"dev-cp", "offer", "--key", "absent.json", "--node-hint", "6f1c1f3e-2f4a-4b7e-9d55-0d8a1c2b3e4f", "--out",
       "offer.json"},
  };
  for (const auto& args : failing) {
    SCOPED_TRACE(args.front() + " " + args[1]);
    const CliRun result = run(args, Stdin::none());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    ASSERT_EQ(result.err.rfind("Error: ", 0), 0u) << result.err;
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.back(), '\n');
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    EXPECT_TRUE(sandbox().entries().empty());
  }
}

TEST(EntryInProcess, RunReportsThroughTheGivenStreams) {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run({"node", "status", "--state", "/nonexistent-zzv-dir/state.json"}, in, out, err), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str().rfind("Error: ", 0), 0u) << err.str();

  std::ostringstream help_out;
  std::ostringstream help_err;
  EXPECT_EQ(run({"--help"}, in, help_out, help_err), 0);
  EXPECT_EQ(help_out.str(), kTopLevelHelp);
  EXPECT_EQ(help_err.str(), "");

  std::ostringstream usage_out;
  std::ostringstream usage_err;
  EXPECT_EQ(run({"enroll", "offer"}, in, usage_out, usage_err), 2);
  EXPECT_EQ(usage_out.str(), "");
  EXPECT_EQ(usage_err.str(),
            "OFFER is required\nUsage: zidazavavide enroll offer [OPTIONS] OFFER\nRun with --help for more "
            "information.\n");
}

}  // namespace
}  // namespace zidazavavide
