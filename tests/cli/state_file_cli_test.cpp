// The node state file as the program reads and writes it: reader errors,
// malformed seeds, permission bits, crash safety and the state lock.

#include "bus_error_guard.hpp"
#include "cli_harness.hpp"

#include <quillmere/engine/file_io.hpp>
#include <quillmere/engine/node_state.hpp>
#include <quillmere/engine/state_lock.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zidazavavide::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNodeId = "6f1c2b7e-3d4a-4c5b-9e8f-0a1b2c3d4e5f";
constexpr const char* kSeed = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";

std::string state_with_seed(const std::string& seed) {
  return std::string("{\n  \"identity\": {\n    \"node_id\": \"") + kNodeId +
         "\",\n    \"audit_signing_key_seed\": \"" + seed +
         "\"\n  },\n  \"enrollment\": {\n    \"status\": \"unenrolled\"\n  },\n  \"committed\": null,\n"
         "  \"previous_committed\": null,\n  \"audit_head\": null,\n  \"audit_sequence\": 0,\n"
         "  \"audit_log\": []\n}";
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

class StateFileCli : public CliTest {};

struct BadDocumentCase {
  const char* name;
  std::string text;
  std::string err;
};

TEST_F(StateFileCli, AStateThatDoesNotReadIsReportedWithTheReadersErrorAndPosition) {
  const BadDocumentCase cases[] = {
      {"empty", "", "Error: Error(\"EOF while parsing a value\", line: 1, column: 0)\n"},
      {"truncated", state_with_seed(kSeed).substr(0, 100),
       "Error: Error(\"EOF while parsing a string\", line: 4, column: 27)\n"},
      {"missing identity",
       "{\n  \"enrollment\": {\"status\": \"unenrolled\"},\n  \"audit_sequence\": 0,\n  \"audit_log\": []\n}",
       "Error: Error(\"missing field `identity`\", line: 5, column: 1)\n"},
      {"duplicate member", "{\n  \"audit_sequence\": 0,\n  \"audit_sequence\": 1\n}",
       "Error: Error(\"duplicate field `audit_sequence`\", line: 3, column: 18)\n"},
      {"trailing text", state_with_seed(kSeed) + "\n{}",
       "Error: Error(\"trailing characters\", line: 15, column: 1)\n"},
  };
  for (const BadDocumentCase& c : cases) {
    SCOPED_TRACE(c.name);
    sandbox().write_file("node-state.json", c.text);
    const CliRun status = run({"node", "status"});
    EXPECT_EQ(status.status, 1);
    EXPECT_EQ(status.out, "");
    EXPECT_EQ(status.err, c.err);
    EXPECT_EQ(sandbox().read_file("node-state.json"), c.text);
  }
}

TEST_F(StateFileCli, AMalformedSeedStillShowsInStatus) {
  const std::string seeds[] = {std::string(kSeed).substr(0, 63), std::string(kSeed) + "0",
                               std::string(kSeed).substr(0, 63) + "x"};
  for (const std::string& seed : seeds) {
    SCOPED_TRACE(seed);
    sandbox().write_file("node-state.json", state_with_seed(seed));
    const CliRun status = run({"node", "status"});
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_EQ(status.out, std::string("node_id:         ") + kNodeId +
                              "\nenrollment:      unenrolled\ncommitted:       none\naudit_sequence:  0\n");
  }
}

TEST_F(StateFileCli, ANewStateIsOwnerOnlyAndAnExistingStateKeepsItsMode) {
  ASSERT_EQ(run({"node", "init"}).status, 0);
  EXPECT_EQ(mode_of(sandbox().path("node-state.json")), 0600u);

  ASSERT_EQ(::chmod(sandbox().path("node-state.json").c_str(), 0644), 0);
  ASSERT_EQ(run({"node", "init", "--force"}).status, 0);
  EXPECT_EQ(mode_of(sandbox().path("node-state.json")), 0644u);
}

TEST_F(StateFileCli, AFailedSaveInAReadOnlyDirectoryKeepsTheOldState) {
  if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
  ASSERT_EQ(run({"node", "init", "--state", "locked/node-state.json"}).status, 1);  // no directory yet
  fs::create_directory(sandbox().path("locked"));
  ASSERT_EQ(run({"node", "init", "--state", "locked/node-state.json"}).status, 0);
  const auto before = sandbox().read_file("locked/node-state.json");
  ASSERT_EQ(::chmod(sandbox().path("locked").c_str(), 0500), 0);
  const CliRun forced = run({"node", "init", "--force", "--state", "locked/node-state.json"});
  ASSERT_EQ(::chmod(sandbox().path("locked").c_str(), 0700), 0);
  EXPECT_EQ(forced.status, 1);
  EXPECT_EQ(forced.err, "Error: \"writing node state to locked/node-state.json: Permission denied (os error 13)\"\n");
  EXPECT_EQ(sandbox().read_file("locked/node-state.json"), before);
}

// Starts `zidazavavide args...` with its output thrown away; returns its pid.
pid_t spawn_quietly(const std::vector<std::string>& args) {
  std::vector<std::string> words{cli_binary()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

std::vector<std::string> temporaries_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".node-state.json.tmp-", 0) == 0) names.push_back(name);
  }
  return names;
}

// A saving command killed at any moment leaves either the old or the new
// complete state: the file always loads, and status always works. A killed
// writer may leave its own temporary file behind, never more than that.
TEST_F(StateFileCli, KillingASavingCommandAtRandomMomentsNeverLeavesABrokenState) {
  ASSERT_EQ(run({"node", "init"}).status, 0);
  const std::string state = sandbox().path("node-state.json");
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("random seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Kill within the time one run takes on this machine, so that the kills
  // land mid-way whether saving is slow (fsync on a disk) or fast (tmpfs).
  std::vector<long> run_us;
  for (int i = 0; i < 5; ++i) {
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = spawn_quietly({"node", "init", "--force", "--state", state});
    ASSERT_GT(pid, 0);
    int wait_status = 0;
    ASSERT_EQ(::waitpid(pid, &wait_status, 0), pid);
    run_us.push_back(static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count()));
  }
  std::sort(run_us.begin(), run_us.end());
  std::uniform_int_distribution<long> delay_us(0, run_us[2]);

  int killed_before_exit = 0;
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const pid_t pid = spawn_quietly({"node", "init", "--force", "--state", state});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    ::kill(pid, SIGKILL);
    int wait_status = 0;
    ASSERT_EQ(::waitpid(pid, &wait_status, 0), pid);
    if (WIFSIGNALED(wait_status)) ++killed_before_exit;

    auto loaded = quillmere::load_state(state);
    ASSERT_TRUE(loaded.has_value()) << "state does not load after a kill";
    EXPECT_TRUE(quillmere::verify_audit(*loaded).has_value());
    const CliRun status = run({"node", "status"});
    ASSERT_EQ(status.status, 0) << status.err;

    const auto leftovers = temporaries_in(sandbox().dir());
    EXPECT_LE(leftovers.size(), 1u);
    for (const std::string& name : leftovers) fs::remove(sandbox().dir() / name);
  }
  // The delays are meant to hit the command mid-way; most rounds must really kill it.
  EXPECT_GT(killed_before_exit, 50);
}

// The one slow test: a mutating command waits the full ten seconds for a
// held lock, then gives up without touching the state.
// Commands that change one state file at the same time take turns: every
// refusal each of them recorded is in the log, and the chain still verifies.
TEST_F(StateFileCli, ConcurrentChangingCommandsLoseNoEvents) {
  ASSERT_EQ(run({"node", "init"}).status, 0);
  constexpr int kCommands = 8;
  std::vector<CliRun> results(kCommands);
  {
    std::vector<std::thread> threads;
    for (int i = 0; i < kCommands; ++i) {
      threads.emplace_back([this, &results, i] { results[static_cast<std::size_t>(i)] = run({"enroll", "revoke"}); });
    }
    for (std::thread& thread : threads) thread.join();
  }
  for (const CliRun& result : results) {
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "Error: \"revoke refused: cannot revoke: node is not currently enrolled or pending\"\n");
  }
  const CliRun verify = run({"audit", "verify"});
  EXPECT_EQ(verify.status, 0);
  EXPECT_TRUE(verify.out.starts_with("audit chain verifies: 8 events, head blake3:")) << verify.out;
  const CliRun status = run({"node", "status"});
  EXPECT_NE(status.out.find("audit_sequence:  8\n"), std::string::npos) << status.out;
}

TEST_F(StateFileCli, AMutatingCommandWaitsForTheLockThenFailsWhileAReaderGoesThrough) {
  ASSERT_EQ(run({"node", "init"}).status, 0);
  const auto before = sandbox().read_file("node-state.json");
  auto acquired = quillmere::StateLock::acquire(sandbox().path("node-state.json"), std::chrono::milliseconds(0));
  ASSERT_TRUE(acquired.has_value());
  std::optional<quillmere::StateLock> held(std::move(*acquired));

  const auto status_start = std::chrono::steady_clock::now();
  const CliRun status = run({"node", "status"});
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_LT(std::chrono::steady_clock::now() - status_start, std::chrono::seconds(3));

  const auto init_start = std::chrono::steady_clock::now();
  const CliRun forced = run({"node", "init", "--force"});
  const auto waited = std::chrono::steady_clock::now() - init_start;
  EXPECT_EQ(forced.status, 1);
  EXPECT_EQ(forced.out, "");
  EXPECT_EQ(forced.err, "Error: \"node state node-state.json is locked by another zidazavavide process\"\n");
  EXPECT_GE(waited, std::chrono::milliseconds(9'900));
  EXPECT_LT(waited, std::chrono::seconds(15));
  EXPECT_EQ(sandbox().read_file("node-state.json"), before);
  EXPECT_TRUE(temporaries_in(sandbox().dir()).empty());

  // Released, the next command goes through at once.
  held.reset();
  const CliRun after = run({"node", "init", "--force"});
  EXPECT_EQ(after.status, 0) << after.err;
}

TEST_F(StateFileCli, AnExistingLockFileThatCannotBeOpenedIsNotBypassed) {
  ASSERT_EQ(run({"node", "init"}).status, 0);
  const auto before = sandbox().read_file("node-state.json");
  fs::remove(sandbox().path("node-state.json.lock"));
  fs::create_directory(sandbox().path("node-state.json.lock"));  // there, but cannot be opened for writing
  const CliRun forced = run({"node", "init", "--force"});
  EXPECT_EQ(forced.status, 1);
  EXPECT_EQ(forced.err, "Error: \"cannot lock node state node-state.json: Is a directory (os error 21)\"\n");
  EXPECT_EQ(sandbox().read_file("node-state.json"), before);
}

// The state is read through a mapping of the file: a page that cannot be
// read back (the file cut short by someone else, a failing disk) arrives as
// SIGBUS, which must end the command as a failed read, not as a crash.
TEST_F(StateFileCli, AStateCutShortWhileItIsReadEndsAsAFailedRead) {
  ASSERT_EQ(run({"node", "init"}).status, 0);
  const std::string path = sandbox().path("node-state.json");
  sandbox().write_file("node-state.json", *sandbox().read_file("node-state.json") + std::string(3 * 4096, ' '));
  const auto cut_short_while_mapped = [&path] {
    auto text = quillmere::map_file(path);
    if (!text || !text->is_mapped()) std::_Exit(3);
    report_bus_errors_as_failed_reads_of("node-state.json");
    if (::truncate(path.c_str(), 0) != 0) std::_Exit(4);
    volatile char last = text->view().back();
    (void)last;
    std::_Exit(0);
  };
  EXPECT_EXIT(cut_short_while_mapped(), ::testing::ExitedWithCode(1),
              "^Error: \"reading node state at node-state.json: Input/output error \\(os error 5\\)\"\n$");
  // A bus error sent by someone else is not a failed read: it keeps its default action.
  const auto sent = [] {
    report_bus_errors_as_failed_reads_of("node-state.json");
    ::raise(SIGBUS);
    std::_Exit(0);
  };
  EXPECT_EXIT(sent(), ::testing::KilledBySignal(SIGBUS), "^$");
}

}  // namespace
}  // namespace zidazavavide::testing

namespace zidazavavide::testing {
namespace {

// Changing commands on a state file that does not exist report its reading
// error and leave nothing behind, not even a lock file.
TEST_F(CliTest, ChangingCommandsOnAMissingStateWriteNothing) {
  const std::vector<std::vector<std::string>> commands = {
      {"enroll", "offer", "offer.json"},
      {"enroll", "approve", "--yes"},
      {"enroll", "revoke"},
      {"bundle", "apply", "bundle.json", "--precheck", "p.json", "--postcheck", "q.json"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0] + " " + command[1]);
    const CliRun result = run(command);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: \"reading node state at node-state.json: No such file or directory (os error 2)\"\n");
    EXPECT_EQ(sandbox().entries(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace zidazavavide::testing
