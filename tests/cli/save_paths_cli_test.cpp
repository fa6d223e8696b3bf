// Where the files a command writes land: links at the target, every
// spelling of one state sharing its lock, names as long as a directory
// holds, and what a command leaves behind.

#include "cli_harness.hpp"

#include <quillmere/engine/file_io.hpp>
#include <quillmere/engine/state_lock.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace zidazavavide::testing {
namespace {

namespace fs = std::filesystem;

const std::string kLongName(255, 'n');  // the longest name a directory entry holds
const std::string kLongLock = fs::path(quillmere::StateLock::lock_path_for("/none/" + kLongName)).filename();

struct SavePathCase {
  std::string name;
  std::function<void(CliSandbox&)> setup;
  std::vector<std::string> args;
  int status;
  std::string err;
  std::vector<std::string> entries;
};

TEST(SavePathsCli, CommandsWriteWhereTheLinksLeadAndLeaveOnlyTheirFilesBehind) {
  const auto loop = [](CliSandbox& s) { fs::create_symlink("loop", s.dir() / "loop"); };
  const auto init_then = [](std::string state, std::function<void(CliSandbox&)> more) {
    return [state, more](CliSandbox& s) {
      ASSERT_EQ(s.run({"node", "init", "--state", state}).status, 0);
      if (more) more(s);
    };
  };
  const std::string revoke_refused =
      "Error: \"revoke refused: cannot revoke: node is not currently enrolled or pending\"\n";
  const SavePathCase cases[] = {
      {"a link loop at the state",
       loop,
       {"node", "init", "--state", "loop"},
       1,
       "Error: \"writing node state to loop: Too many levels of symbolic links (os error 40)\"\n",
       {"loop"}},
      {"a link loop at a dev-cp output",
       loop,
       {"dev-cp", "keygen", "--control-plane-id", "acme", "--out", "loop"},
       1,
       "Error: Os { code: 40, kind: FilesystemLoop, message: \"Too many levels of symbolic links\" }\n",
       {"loop"}},
      {"a dangling link gets its target",
       [](CliSandbox& s) { fs::create_symlink("real.json", s.dir() / "d.json"); },
       {"node", "init", "--state", "d.json"},
       0,
       "",
       {"d.json", "real.json", "real.json.lock"}},
      {"a link to the state locks the state itself",
       init_then("a.json", [](CliSandbox& s) { fs::create_symlink("a.json", s.dir() / "b.json"); }),
       {"enroll", "revoke", "--state", "b.json"},
       1,
       revoke_refused,
       {"a.json", "a.json.lock", "b.json"}},
      {"the longest name saves", {}, {"node", "init", "--state", kLongName}, 0, "", {kLongName, kLongLock}},
      {"the longest name saves again",
       init_then(kLongName, {}),
       {"enroll", "revoke", "--state", kLongName},
       1,
       revoke_refused,
       {kLongName, kLongLock}},
      {"the longest dev-cp output",
       {},
       {"dev-cp", "keygen", "--control-plane-id", "acme", "--out", kLongName},
       0,
       "",
       {kLongName}},
      {"a name too long for any file",
       {},
       {"node", "init", "--state", kLongName + "n"},
       1,
       "Error: \"writing node state to " + kLongName + "n: File name too long (os error 36)\"\n",
       {}},
      {"a directory in the way",
       [](CliSandbox& s) { fs::create_directory(s.dir() / "adir"); },
       {"node", "init", "--force", "--state", "adir"},
       1,
       "Error: \"writing node state to adir: Is a directory (os error 21)\"\n",
       {"adir"}},
      {"temporaries of earlier saves go",
       init_then("s.json",
                 [](CliSandbox& s) {
                   s.write_file(".s.json.tmp-a1B2c3", "{");
                   s.write_file(".s.json.tmp-ZZZZZZ", "");
                   s.write_file(".t.json.tmp-a1B2c3", "{");
                 }),
       {"enroll", "revoke", "--state", "s.json"},
       1,
       revoke_refused,
       {".t.json.tmp-a1B2c3", "s.json", "s.json.lock"}},
  };
  for (const SavePathCase& c : cases) {
    SCOPED_TRACE(c.name);
    CliSandbox sandbox;
    if (c.setup) c.setup(sandbox);
    const CliRun result = sandbox.run(c.args);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(sandbox.entries(), c.entries);
    if (sandbox.exists("loop")) {
      EXPECT_EQ(fs::read_symlink(sandbox.dir() / "loop"), "loop");
    }
  }
}

}  // namespace
}  // namespace zidazavavide::testing
