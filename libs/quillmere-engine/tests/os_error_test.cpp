#include <quillmere/engine/file_io.hpp>

#include <brackfern/contracts/utf8.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include <sys/stat.h>

namespace quillmere {
namespace {

namespace fs = std::filesystem;

TEST(OsErrorKindName, MapsErrnoToKindNames) {
  struct Case {
    int error_number;
    std::string_view kind;
  };
  const Case cases[] = {
      {ENOENT, "NotFound"},
      {EACCES, "PermissionDenied"},
      {EPERM, "PermissionDenied"},
      {EEXIST, "AlreadyExists"},
      {EISDIR, "IsADirectory"},
      {ENOTDIR, "NotADirectory"},
      {EINVAL, "InvalidInput"},
      {EINTR, "Interrupted"},
      {ENOSPC, "StorageFull"},
      {EROFS, "ReadOnlyFilesystem"},
      {ENOTEMPTY, "DirectoryNotEmpty"},
      {EAGAIN, "WouldBlock"},
      {ETIMEDOUT, "TimedOut"},
      {EPIPE, "BrokenPipe"},
      {ELOOP, "FilesystemLoop"},
      {ENAMETOOLONG, "InvalidFilename"},
      {EBUSY, "ResourceBusy"},
      {EXDEV, "CrossesDevices"},
      {ETXTBSY, "ExecutableFileBusy"},
      {EFBIG, "FileTooLarge"},
      {EMLINK, "TooManyLinks"},
      {ENOMEM, "OutOfMemory"},
      {EDQUOT, "FilesystemQuotaExceeded"},
      {ESPIPE, "NotSeekable"},
      {EIO, "Uncategorized"},
      {ENXIO, "Uncategorized"},
      {0, "Uncategorized"},
      {99999, "Uncategorized"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error_number);
    EXPECT_EQ(os_error_kind_name(c.error_number), c.kind);
  }
}

TEST(OsError, DisplayAndDebugOfAnErrno) {
  const OsError e = OsError::from_errno(ENOENT);
  EXPECT_EQ(e.code, 2);
  EXPECT_EQ(e.kind, "NotFound");
  EXPECT_EQ(e.message, "No such file or directory");
  EXPECT_EQ(e.display(), "No such file or directory (os error 2)");
  EXPECT_EQ(e.debug(), R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })");

  EXPECT_EQ(OsError::from_errno(EACCES).debug(),
            R"(Os { code: 13, kind: PermissionDenied, message: "Permission denied" })");
  EXPECT_EQ(OsError::from_errno(EISDIR).display(), "Is a directory (os error 21)");
}

TEST(OsError, DisplayAndDebugWithoutACode) {
  const OsError e = OsError::invalid_utf8();
  EXPECT_FALSE(e.code.has_value());
  EXPECT_EQ(e.display(), "stream did not contain valid UTF-8");
  EXPECT_EQ(e.debug(), R"(Error { kind: InvalidData, message: "stream did not contain valid UTF-8" })");
}

TEST(OsError, DebugQuotesTheMessage) {
  const OsError e{5, "Uncategorized", "odd \"text\"\n"};
  EXPECT_EQ(e.debug(), R"(Os { code: 5, kind: Uncategorized, message: "odd \"text\"\n" })");
}

// A fresh directory for one test, removed afterwards.
class ReadTextFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zzv-os-error-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string write(const std::string& name, std::string_view bytes) const {
    const std::string path = (dir_ / name).string();
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  // Reads `path` whole both ways; the mapped reader, which leaves UTF-8 to
  // its caller, must give the same bytes or the same error as the reading
  // one, whose result is returned.
  static std::expected<std::string, OsError> read_both(const std::string& path) {
    auto read = read_text_file(path);
    auto mapped = map_file(path);
    if (!read && read.error().debug() == OsError::invalid_utf8().debug()) {
      EXPECT_TRUE(mapped.has_value() && !brackfern::is_valid_utf8(mapped->view()));
      return read;
    }
    EXPECT_EQ(read.has_value(), mapped.has_value());
    if (read && mapped) {
      EXPECT_EQ(mapped->view(), *read);
    } else if (!read && !mapped) {
      EXPECT_EQ(mapped.error().debug(), read.error().debug());
    }
    return read;
  }
  fs::path dir_;
};

TEST_F(ReadTextFile, ReadsTheWholeFileExactly) {
  std::string big(100000, 'x');
  big += "\n\xC3\xA9t\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80";
  const auto read = read_both(write("big.txt", big));
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  EXPECT_EQ(*read, big);
  EXPECT_TRUE(map_file(write("big.txt", big))->is_mapped());
}

// A pipe has no length to size the buffer from: the text grows several
// times while reading and must keep every byte in order.
TEST_F(ReadTextFile, ReadsAPipeWithoutALengthWhole) {
  std::string text;
  for (int i = 0; text.size() < 100000; ++i) text += std::to_string(i) + ",";
  const std::string path = (dir_ / "pipe").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(path, std::ios::binary) << text; });
  const auto read = read_text_file(path);
  writer.join();
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  EXPECT_EQ(*read, text);
  // Nothing to map: the mapped reader reads it as a stream too.
  std::thread second_writer([&] { std::ofstream(path, std::ios::binary) << text; });
  const auto streamed = map_file(path);
  second_writer.join();
  ASSERT_TRUE(streamed.has_value()) << streamed.error().debug();
  EXPECT_FALSE(streamed->is_mapped());
  EXPECT_EQ(streamed->view(), text);
}

TEST_F(ReadTextFile, EmptyFileIsEmptyText) {
  const auto read = read_both(write("empty", ""));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, "");
}

TEST_F(ReadTextFile, MissingFileIsNotFound) {
  const auto read = read_both((dir_ / "absent.json").string());
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().debug(), R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })");
}

TEST_F(ReadTextFile, DirectoryIsIsADirectory) {
  const auto read = read_both(dir_.string());
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().debug(), R"(Os { code: 21, kind: IsADirectory, message: "Is a directory" })");
}

TEST_F(ReadTextFile, PathThroughAFileIsNotADirectory) {
  const std::string file = write("plain", "x");
  const auto read = read_both(file + "/inner");
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().kind, "NotADirectory");
  EXPECT_EQ(read.error().code, ENOTDIR);
}

TEST_F(ReadTextFile, RefusesBytesThatAreNotUtf8) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"lone continuation byte", "ab\x80"}, {"truncated two-byte form", "ab\xC3"},
      {"overlong slash", "\xC0\xAF"},       {"overlong three-byte form", "\xE0\x80\xAF"},
      {"surrogate", "\xED\xA0\x80"},        {"above U+10FFFF", "\xF4\x90\x80\x80"},
      {"invalid lead byte", "\xFF"},        {"latin-1 text", "caf\xE9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto read = read_both(write("bad", c.bytes));
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().debug(), R"(Error { kind: InvalidData, message: "stream did not contain valid UTF-8" })");
  }
}

TEST_F(ReadTextFile, AcceptsTheEdgesOfUtf8) {
  const std::string bytes = std::string("\x00", 1) + "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80" +
                            "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
  const auto read = read_both(write("edges", bytes));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, bytes);
}

}  // namespace
}  // namespace quillmere
