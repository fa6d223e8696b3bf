#pragma once

#include <quillmere/engine/file_io.hpp>

#include <istream>
#include <ostream>
#include <streambuf>
#include <string>

namespace zidazavavide {

// The three standard streams a command talks to. Handlers write their result
// line to `out`, read the approval answer from `in`, and never write to `err`:
// the entry alone reports failures there.
struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

// Standard output or standard error as the program writes them. Text is
// collected until it is flushed (or a long run of whole lines has built up)
// and then written to the descriptor, with every ill-formed UTF-8 sequence
// replaced by U+FFFD: a path given on the command line may hold any bytes,
// but what the program prints is always UTF-8.
//
// The first failed write ends the stream: its errno is kept, what was not
// written is dropped and nothing is written after it, so no text is ever
// written twice or out of order. The stream reports the failure as usual
// (badbit), and `output_error` tells which it was.
class ConsoleOutput : public std::streambuf {
 public:
  explicit ConsoleOutput(int fd) : fd_(fd) {}
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;
  ~ConsoleOutput() override;

  // The errno of the first failed write; 0 while every write has succeeded.
  [[nodiscard]] int error_number() const { return error_number_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  // Writes out `pending_` up to `end` (a line boundary or its end).
  bool write_out(std::size_t end);

  int fd_;
  int error_number_ = 0;
  std::string pending_;
};

// The operating-system error behind a stream that failed: the errno a
// ConsoleOutput kept, or an input/output error for any other stream.
[[nodiscard]] quillmere::OsError output_error(const std::ostream& stream);

}  // namespace zidazavavide
