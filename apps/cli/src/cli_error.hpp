#pragma once

#include <brackfern/contracts/core_error.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <quillmere/contracts/quillmere_error.hpp>
#include <quillmere/engine/file_io.hpp>

#include <expected>
#include <string>
#include <variant>

namespace zidazavavide {

// A message the program formats itself, e.g. "approval declined at console".
struct TextMessage {
  std::string text;
};

// Why a command failed: one of the five kinds of error a handler can return.
// The entry prints "Error: " + debug() as the only failure line.
class CliError {
 public:
  using Variant = std::variant<TextMessage, brackfern::JsonError, quillmere::OsError, quillmere::QuillmereError,
                               brackfern::CoreError>;

  // Each kind converts implicitly, so a handler can write
  // `return std::unexpected(loaded.error());` for any of them.
  CliError(TextMessage e) : value_(std::move(e)) {}                // NOLINT
  CliError(brackfern::JsonError e) : value_(std::move(e)) {}       // NOLINT
  CliError(quillmere::OsError e) : value_(std::move(e)) {}         // NOLINT
  CliError(quillmere::QuillmereError e) : value_(std::move(e)) {}  // NOLINT
  CliError(brackfern::CoreError e) : value_(std::move(e)) {}       // NOLINT

  [[nodiscard]] static CliError text(std::string message) { return TextMessage{std::move(message)}; }

  [[nodiscard]] const Variant& value() const { return value_; }
  template <class T>
  [[nodiscard]] bool is() const {
    return std::holds_alternative<T>(value_);
  }

  // The display form: the text itself; a JSON error as "msg at line L column C";
  // an OS error as "message (os error N)"; node and core errors by message().
  [[nodiscard]] std::string display() const;
  // The debug form printed after "Error: ":
  //   text   "quoted text" (invalid UTF-8 shown as U+FFFD, see to_utf8_lossy)
  //   JSON   Error("message", line: L, column: C)
  //   OS     Os { code: 2, kind: NotFound, message: "No such file or directory" }
  //   node   e.g. InvalidKeyMaterial("...")     core   e.g. Validation("...")
  [[nodiscard]] std::string debug() const;

 private:
  Variant value_;
};

// What every handler returns.
using CommandResult = std::expected<void, CliError>;

// Shorthand for a failed command with a text message.
[[nodiscard]] inline std::unexpected<CliError> text_error(std::string message) {
  return std::unexpected(CliError::text(std::move(message)));
}

}  // namespace zidazavavide
