#pragma once

// Runs the real zidazavavide binary for command-line tests.
//
//   class NodeCli : public zidazavavide::testing::CliTest {};
//   TEST_F(NodeCli, InitTwice) {
//     EXPECT_EQ(run({"node", "init"}).status, 0);
//     const CliRun again = run({"node", "init"});
//     EXPECT_EQ(again.err, "Error: \"node-state.json already exists; pass --force to overwrite\"\n");
//     EXPECT_TRUE(sandbox().exists("node-state.json"));
//   }
//
// Every test gets a fresh temporary directory (removed afterwards) that is
// the program's working directory. Arguments go to the binary as given (no
// shell), standard input is exactly the bytes given (or closed), and the
// standard output, standard error and exit status come back whole.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zidazavavide::testing {

// What one run of the program left behind on its streams.
struct CliRun {
  int status = -1;         // exit status; 128 + signal number when killed by a signal
  std::string out;         // everything written to standard output
  std::string err;         // everything written to standard error
  bool timed_out = false;  // killed by the harness after the time limit
};

// What the program gets on standard input.
struct Stdin {
  // The bytes to write, then end of input. Ignored when `closed` is set.
  std::string bytes;
  // Descriptor 0 is not open at all in the program.
  bool closed = false;
  // When set, descriptor 0 is this file (or directory) opened for reading.
  std::string file;

  static Stdin text(std::string bytes) { return Stdin{std::move(bytes), false, {}}; }
  static Stdin none() { return Stdin{{}, true, {}}; }
  static Stdin from_file(std::string path) { return Stdin{{}, false, std::move(path)}; }
};

// Where the program's standard output and error go, and what starts it.
struct Launch {
  // When set, descriptor 1 (2) is this file opened for writing instead of a
  // pipe, e.g. "/dev/full"; CliRun::out (err) then stays empty.
  std::string out_file;
  std::string err_file;
  // Words run in front of the binary (looked up on PATH), e.g. {"fiu-run", "-x", ...}.
  std::vector<std::string> wrapper;
};

// The path of the binary under test.
[[nodiscard]] std::string cli_binary();
// The directory holding the tests' data files.
[[nodiscard]] std::filesystem::path test_data_dir();

// A fresh temporary working directory with helpers to run the program in it
// and to look at the files it leaves behind.
class CliSandbox {
 public:
  CliSandbox();
  ~CliSandbox();
  CliSandbox(const CliSandbox&) = delete;
  CliSandbox& operator=(const CliSandbox&) = delete;

  [[nodiscard]] const std::filesystem::path& dir() const { return dir_; }
  // Absolute path of `name` inside the sandbox.
  [[nodiscard]] std::string path(std::string_view name) const;

  // Runs the binary with `args` (without the program name) in the sandbox.
  // Standard input is empty (end of input at once) unless given.
  [[nodiscard]] CliRun run(const std::vector<std::string>& args, const Stdin& input = Stdin{},
                           const Launch& launch = Launch{}) const;

  // Writes `bytes` to `name` (creating parent directories).
  void write_file(std::string_view name, std::string_view bytes) const;
  // The content of `name`, or nullopt when it cannot be read.
  [[nodiscard]] std::optional<std::string> read_file(std::string_view name) const;
  [[nodiscard]] bool exists(std::string_view name) const;
  // The names of the entries directly in the sandbox, sorted.
  [[nodiscard]] std::vector<std::string> entries() const;

 private:
  std::filesystem::path dir_;
};

// A test fixture with one sandbox per test.
class CliTest : public ::testing::Test {
 protected:
  [[nodiscard]] CliSandbox& sandbox() { return sandbox_; }
  [[nodiscard]] CliRun run(const std::vector<std::string>& args, const Stdin& input = Stdin{},
                           const Launch& launch = Launch{}) const {
    return sandbox_.run(args, input, launch);
  }

 private:
  CliSandbox sandbox_;
};

}  // namespace zidazavavide::testing
