#include <quillmere/engine/file_io.hpp>
#include <quillmere/engine/state_lock.hpp>

#include <gtest/gtest.h>

#include "temp_files.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillmere {
namespace {

using test_support::mode_of;
using test_support::slurp;
using test_support::TempDir;

namespace fs = std::filesystem;

std::size_t entries_in(const fs::path& dir) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++count;
  return count;
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// `count` links "<stem>1" -> "<stem>0" ... ending at "<stem>0" (which need not exist).
std::string chain_of_links(const TempDir& dir, const std::string& stem, int count) {
  for (int i = 1; i <= count; ++i) {
    fs::create_symlink(stem + std::to_string(i - 1), dir.path() / (stem + std::to_string(i)));
  }
  return dir.file(stem + std::to_string(count));
}

TEST(WriteFileAtomically, NewSecretFileIsOwnerOnlyAndHoldsExactlyTheBytes) {
  TempDir dir;
  const std::string path = dir.file("node-state.json");
  ASSERT_TRUE(write_file_atomically(path, "{\n  \"a\": 1\n}", FileSecrecy::Secret));
  EXPECT_EQ(slurp(path), "{\n  \"a\": 1\n}");
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_EQ(entries_in(dir.path()), 1u) << "no temporary file may be left behind";
}

TEST(WriteFileAtomically, NewPublicFileFollowsTheUmask) {
  TempDir dir;
  const mode_t old_mask = ::umask(022);
  ASSERT_TRUE(write_file_atomically(dir.file("offer.json"), "{}", FileSecrecy::Public));
  ::umask(old_mask);
  EXPECT_EQ(mode_of(dir.file("offer.json")), 0644u);
}

TEST(WriteFileAtomically, ExistingFileKeepsItsPermissionBits) {
  TempDir dir;
  const std::string path = dir.file("state.json");
  { std::ofstream(path) << "old"; }
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(write_file_atomically(path, "new", FileSecrecy::Secret));
  EXPECT_EQ(slurp(path), "new");
  EXPECT_EQ(mode_of(path), 0640u);
}

TEST(WriteFileAtomically, SymbolicLinkKeepsPointingAtTheReplacedTarget) {
  TempDir dir;
  fs::create_directory(dir.path() / "real");
  const std::string target = dir.file("real/state.json");
  { std::ofstream(target) << "old"; }
  const std::string link = dir.file("link.json");
  fs::create_symlink("real/state.json", link);

  ASSERT_TRUE(write_file_atomically(link, "new", FileSecrecy::Secret));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(slurp(target), "new");
  EXPECT_EQ(entries_in(dir.path() / "real"), 1u);
}

TEST(WriteFileAtomically, PiecesAreWrittenInOrderPastTheSystemsPieceLimit) {
  TempDir dir;
  const std::string path = dir.file("pieces.json");
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) texts.push_back(i % 7 == 0 ? "" : std::to_string(i) + ",");
  const std::vector<std::string_view> pieces(texts.begin(), texts.end());
  std::string joined;
  for (const std::string& text : texts) joined += text;
  ASSERT_TRUE(write_file_atomically(path, pieces, FileSecrecy::Secret));
  EXPECT_EQ(slurp(path), joined);
}

TEST(WriteFileAtomically, FailureBeforeRenameLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string path = dir.file("state.json");
  { std::ofstream(path) << "old complete document"; }
  std::string seen_temporary;
  const std::string_view content = "new document";
  auto result = detail::write_file_atomically(path, std::span<const std::string_view>(&content, 1), FileSecrecy::Secret,
                                              [&](const std::string& temporary) -> std::expected<void, OsError> {
                                                seen_temporary = temporary;
                                                // The new bytes are complete on disk before the swap.
                                                EXPECT_EQ(slurp(temporary), "new document");
                                                return std::unexpected(OsError::from_errno(ENOSPC));
                                              });
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, "StorageFull");
  EXPECT_EQ(slurp(path), "old complete document");
  EXPECT_FALSE(fs::exists(seen_temporary));
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(WriteFileAtomically, ReportsTheSystemErrorsAnOverwriteWouldHave) {
  TempDir dir;
  struct Case {
    std::string path;
    std::string kind;
  };
  fs::create_directory(dir.path() / "a-directory");
  const Case cases[] = {
      {dir.file("missing-dir/state.json"), "NotFound"},
      {dir.file("a-directory"), "IsADirectory"},
      {dir.file("."), "IsADirectory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto result = write_file_atomically(c.path, "{}", FileSecrecy::Secret);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, c.kind);
  }
  EXPECT_TRUE(fs::is_directory(dir.path() / "a-directory"));
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(WriteFileAtomically, DeviceIsWrittenIntoNotReplaced) {
  ASSERT_TRUE(write_file_atomically("/dev/null", "{}", FileSecrecy::Secret));
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/null must stay a character device";
}

TEST(WriteFileAtomically, PipeIsWrittenIntoNotReplaced) {
  TempDir dir;
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A reader that stays open so that the writer's open does not block.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(write_file_atomically(fifo, "{\"a\": 1}", FileSecrecy::Secret));
  char buffer[32] = {};
  const ssize_t got = ::read(reader, buffer, sizeof buffer);
  ::close(reader);
  EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0), "{\"a\": 1}");
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

// Links at the target are followed as an open for writing follows them: a
// dangling one gets its file, and more than the system's 40 (a loop) fail with
// the system's error while every link stays as it was.
TEST(WriteFileAtomically, LinksAtTheTargetAreFollowedAsAWriteThroughThemWould) {
  struct Case {
    std::string name;
    int links;
    bool loop;  // the last link points back at the first
    bool ok;
  };
  const Case cases[] = {
      {"dangling", 1, false, true},
      {"forty, the most the system follows", 40, false, true},
      {"forty-one", 41, false, false},
      {"a link to itself", 1, true, false},
      {"two links in a loop", 2, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = chain_of_links(dir, "l", c.links);
    if (c.loop) {
      fs::remove(dir.path() / "l0");
      fs::create_symlink("l" + std::to_string(c.links), dir.path() / "l0");
    }
    const auto before = names_in(dir.path());
    auto result = write_file_atomically(path, "{}", FileSecrecy::Secret);
    ASSERT_EQ(result.has_value(), c.ok);
    for (int i = c.loop ? 0 : 1; i <= c.links; ++i) EXPECT_TRUE(fs::is_symlink(dir.path() / ("l" + std::to_string(i))));
    if (c.ok) {
      EXPECT_EQ(slurp(dir.file("l0")), "{}");
      EXPECT_EQ(entries_in(dir.path()), before.size() + 1);
    } else {
      EXPECT_EQ(result.error().display(), "Too many levels of symbolic links (os error 40)");
      EXPECT_EQ(names_in(dir.path()), before);
    }
  }
}

// Temporaries and lock files are named after the file they serve. Names
// that leave room keep the plain forms; longer ones, up to the longest a
// directory holds, get a shortened form that still fits, stays the same for
// the same name, differs between names and keeps whole UTF-8 characters.
TEST(CompanionNames, FitBesideEveryNameThatFitsAndKeepThePlainFormsWhereTheyCan) {
  const std::string e_acute = "\xc3\xa9";
  struct Case {
    std::string name;
    bool plain_temporary;
    bool plain_lock;
  };
  std::vector<Case> cases = {
      {"node-state.json", true, true},       {std::string(243, 's'), true, true},
      {std::string(244, 's'), false, true},  {std::string(250, 's'), false, true},
      {std::string(251, 's'), false, false}, {std::string(255, 's'), false, false},
  };
  for (std::size_t odd = 0; odd < 2; ++odd) {  // the cut falls inside a character, or between two
    std::string name(odd, 'x');
    while (name.size() + 2 <= 255) name += e_acute;
    cases.push_back({name, false, false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.name.size()) + " bytes");
    const std::string temporary = temporary_name_prefix(c.name) + "XXXXXX";
    const std::string lock = fs::path(StateLock::lock_path_for("/nonexistent-dir/" + c.name)).filename().string();
    EXPECT_LE(temporary.size(), kMaxFileNameBytes);
    EXPECT_LE(lock.size(), kMaxFileNameBytes);
    EXPECT_EQ(temporary == "." + c.name + ".tmp-XXXXXX", c.plain_temporary) << temporary;
    EXPECT_EQ(lock == c.name + ".lock", c.plain_lock) << lock;
    EXPECT_EQ(temporary_name_prefix(c.name), temporary_name_prefix(c.name));
    std::string sibling = c.name;
    sibling.back() = sibling.back() == 's' ? 't' : 's';
    if (!c.plain_temporary) {
      EXPECT_NE(temporary_name_prefix(sibling), temporary_name_prefix(c.name));
    }
    const std::string stem = companion_stem(c.name, 12);
    const std::string kept = stem.substr(0, stem.find('~'));
    EXPECT_TRUE(c.name.starts_with(kept));
    if (c.name.back() != 's') {
      EXPECT_EQ(kept.size() % 2, c.name.size() % 2) << "a character was cut in two";
    }

    // And they work: the longest names save, lock, and leave only the file and its lock.
    TempDir dir;
    const std::string path = dir.file(c.name);
    {
      auto held = StateLock::acquire(path, std::chrono::milliseconds(0));
      ASSERT_TRUE(held) << "lock";
      ASSERT_TRUE(write_file_atomically(path, "{}", FileSecrecy::Secret)) << "write";
    }
    std::vector<std::string> expected{c.name, lock};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names_in(dir.path()), expected);
  }
}

// A file the caller may not write into is not replaced, even in a directory
// the caller may write: the error is the one writing into it gives. Root may
// write into anything, so for root the file is replaced (and keeps its mode).
TEST(WriteFileAtomically, AFileTheCallerMayNotWriteIsNotReplaced) {
  struct Case {
    std::string name;
    mode_t mode;
    bool as_root;  // otherwise as an ordinary user (nobody when the test runs as root)
    bool replaced;
  };
  const Case cases[] = {
      {"read-only, ordinary user", 0444, false, false},
      {"another user's 0644 file", 0644, false, false},
      {"writable by all", 0666, false, true},
      {"read-only, root", 0444, true, true},
  };
  const bool root = ::geteuid() == 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Without root there is neither root nor another user's file to try.
    if (!root && (c.as_root || c.mode == 0644)) continue;
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);  // anyone may create and rename here
    const std::string path = dir.file("state.json");
    { std::ofstream(path) << "old"; }
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    // An ordinary user runs the write in a child that has dropped root.
    const bool drop = root && !c.as_root;
    int error_number = 0;
    if (drop) {
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(200);
        auto written = write_file_atomically(path, "new", FileSecrecy::Secret);
        ::_exit(written ? 0 : written.error().code.value_or(201));
      }
      int wait_status = 0;
      ASSERT_EQ(::waitpid(child, &wait_status, 0), child);
      ASSERT_TRUE(WIFEXITED(wait_status));
      error_number = WEXITSTATUS(wait_status);
      ASSERT_NE(error_number, 200) << "could not become nobody";
    } else {
      auto written = write_file_atomically(path, "new", FileSecrecy::Secret);
      error_number = written ? 0 : written.error().code.value_or(201);
    }
    EXPECT_EQ(error_number, c.replaced ? 0 : EACCES);
    EXPECT_EQ(slurp(path), c.replaced ? "new" : "old");
    EXPECT_EQ(mode_of(path), c.mode);
    EXPECT_EQ(entries_in(dir.path()), 1u);
  }
}

// Leftovers of earlier writes are removed, and nothing that merely looks
// like one: another file's temporary, a wrong length, a directory, a link.
TEST(RemoveStaleTemporaries, RemovesExactlyTheTemporariesOfThatFile) {
  for (const std::string& name : {std::string("state.json"), std::string(250, 'n')}) {
    SCOPED_TRACE(std::to_string(name.size()) + " bytes");
    TempDir dir;
    const std::string prefix = temporary_name_prefix(name);
    const std::vector<std::string> stale = {prefix + "a1B2c3", prefix + "ZZZZZZ"};
    std::vector<std::string> kept_files = {name, prefix + "a1B2c", prefix + "a1B2c34", prefix + "a1B2c!",
                                           temporary_name_prefix("other.json") + "a1B2c3"};
    std::erase_if(kept_files, [](const std::string& file) { return file.size() > kMaxFileNameBytes; });
    for (const std::string& file : stale) std::ofstream(dir.file(file)) << "x";
    for (const std::string& file : kept_files) std::ofstream(dir.file(file)) << "x";
    fs::create_directory(dir.path() / (prefix + "dir123"));
    fs::create_symlink(name, dir.path() / (prefix + "link12"));

    EXPECT_EQ(remove_stale_temporaries(dir.file(name)), stale.size());
    std::vector<std::string> expected = kept_files;
    expected.push_back(prefix + "dir123");
    expected.push_back(prefix + "link12");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names_in(dir.path()), expected);

    // Taking the state's lock does the same.
    for (const std::string& file : stale) std::ofstream(dir.file(file)) << "x";
    ASSERT_TRUE(StateLock::acquire(dir.file(name), std::chrono::milliseconds(0)));
    for (const std::string& file : stale) EXPECT_FALSE(fs::exists(dir.path() / file)) << file;
  }
}

TEST(StateLock, SecondHolderWaitsThenTimesOutAndSucceedsAfterRelease) {
  TempDir dir;
  const std::string state = dir.file("node-state.json");
  auto first = StateLock::acquire(state, std::chrono::milliseconds(0));
  ASSERT_TRUE(first);
  EXPECT_TRUE(fs::exists(StateLock::lock_path_for(state)));
  EXPECT_EQ(mode_of(StateLock::lock_path_for(state)), 0600u);

  const auto started = std::chrono::steady_clock::now();
  auto second = StateLock::acquire(state, std::chrono::milliseconds(200));
  const auto waited = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(second);
  EXPECT_TRUE(std::holds_alternative<LockTimedOut>(second.error()));
  EXPECT_GE(waited, std::chrono::milliseconds(200));

  { [[maybe_unused]] StateLock released = std::move(*first); }
  EXPECT_TRUE(StateLock::acquire(state, std::chrono::milliseconds(0)));
}

// Every spelling of one state file takes the same lock: through links to it
// or to its directory, with "." and "..", relative or absolute.
TEST(StateLock, EverySpellingOfOneStateFileSharesOneLock) {
  TempDir dir;
  fs::create_directory(dir.path() / "sub");
  { std::ofstream(dir.file("a.json")) << "{}"; }
  fs::create_symlink("a.json", dir.path() / "b.json");
  fs::create_symlink("b.json", dir.path() / "c.json");
  fs::create_symlink(".", dir.path() / "here");
  fs::create_symlink("new.json", dir.path() / "dangling.json");
  const std::string relative = fs::relative(dir.path() / "a.json", fs::current_path()).string();
  const std::string spellings[] = {dir.file("b.json"),        dir.file("c.json"),      dir.file("./a.json"),
                                   dir.file("sub/../a.json"), dir.file("here/a.json"), relative};
  {
    auto held = StateLock::acquire(dir.file("a.json"), std::chrono::milliseconds(0));
    ASSERT_TRUE(held);
    for (const std::string& spelling : spellings) {
      SCOPED_TRACE(spelling);
      EXPECT_EQ(StateLock::lock_path_for(spelling), dir.file("a.json.lock"));
      auto second = StateLock::acquire(spelling, std::chrono::milliseconds(0));
      ASSERT_FALSE(second);
      EXPECT_TRUE(std::holds_alternative<LockTimedOut>(second.error()));
    }
    EXPECT_TRUE(StateLock::acquire(dir.file("sub/a.json"), std::chrono::milliseconds(0))) << "another file";
  }
  {
    auto held = StateLock::acquire(dir.file("dangling.json"), std::chrono::milliseconds(0));
    ASSERT_TRUE(held);
    EXPECT_FALSE(StateLock::acquire(dir.file("new.json"), std::chrono::milliseconds(0)));
  }
}

// The lock file stays while a state file is there; a holder whose state
// never came about (a failed node init) takes its lock file away again.
TEST(StateLock, TheLockFileStaysOnlyBesideAStateFile) {
  TempDir dir;
  fs::create_directory(dir.path() / "a-directory");
  { std::ofstream(dir.file("state.json")) << "{}"; }
  const struct {
    std::string state;
    bool kept;
  } cases[] = {{"state.json", true}, {"missing.json", false}, {"a-directory", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    { ASSERT_TRUE(StateLock::acquire(dir.file(c.state), std::chrono::milliseconds(0))); }
    EXPECT_EQ(fs::exists(dir.path() / (c.state + ".lock")), c.kept);
  }
}

// Holders that remove the lock file on release (there is no state file)
// still keep one another out, and the last one leaves nothing behind.
TEST(StateLock, HoldersThatRemoveTheLockFileStillExcludeOneAnother) {
  TempDir dir;
  const std::string state = dir.file("never-written.json");
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 25; ++round) {
        auto lock = StateLock::acquire(state, std::chrono::seconds(10));
        if (!lock) continue;
        if (inside.fetch_add(1) != 0) ++overlaps;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        inside.fetch_sub(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(entries_in(dir.path()), 0u);
}

TEST(StateLock, AStatePathThatDoesNotResolveIsAnOsErrorAndCreatesNothing) {
  TempDir dir;
  fs::create_symlink("loop", dir.path() / "loop");
  const struct {
    std::string path;
    std::string kind;
  } cases[] = {{dir.file("no-such-dir/node-state.json"), "NotFound"}, {dir.file("loop"), "FilesystemLoop"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto lock = StateLock::acquire(c.path, std::chrono::milliseconds(0));
    ASSERT_FALSE(lock);
    ASSERT_TRUE(std::holds_alternative<OsError>(lock.error()));
    EXPECT_EQ(std::get<OsError>(lock.error()).kind, c.kind);
  }
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"loop"});
}

}  // namespace
}  // namespace quillmere
