#include <quillmere/engine/file_io.hpp>
#include <quillmere/engine/state_lock.hpp>

#include <gtest/gtest.h>

#include "temp_files.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
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

TEST(StateLock, UnwritableLockLocationIsAnOsError) {
  TempDir dir;
  auto lock = StateLock::acquire(dir.file("no-such-dir/node-state.json"), std::chrono::milliseconds(0));
  ASSERT_FALSE(lock);
  ASSERT_TRUE(std::holds_alternative<OsError>(lock.error()));
  EXPECT_EQ(std::get<OsError>(lock.error()).kind, "NotFound");
}

}  // namespace
}  // namespace quillmere
