#pragma once

// Steps shared by the handlers that decide an outcome and record it: reading
// an input document, ending with a recorded refusal or a recorded success,
// and stopping on a broken internal invariant.

#include "cli_error.hpp"
#include "console.hpp"
#include "state_session.hpp"

#include <brackfern/audit/audit_event.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <quillmere/engine/file_io.hpp>

#include <cstdlib>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace zidazavavide {

// Reads the whole file at `path` as a `Document` (a type with
// `static JsonResult<Document> from_json(JsonSource&)`). An unreadable
// file is its OS error, malformed JSON or a wrong document the JSON error;
// both are returned as they are.
template <class Document>
[[nodiscard]] std::expected<Document, CliError> read_document(const std::string& path) {
  auto text = quillmere::read_text_file(path);
  if (!text) return std::unexpected(CliError(std::move(text.error())));
  auto document = brackfern::read_document<Document>(*text);
  if (!document) return std::unexpected(CliError(std::move(document.error())));
  return std::move(*document);
}

// A refusal is an outcome: records `event`, saves, and only then fails with
// the text `message`. A recording or saving failure is returned instead.
[[nodiscard]] inline CommandResult refuse(StateSession& session, brackfern::AuditEvent event, std::string message) {
  if (auto recorded = record(session, std::move(event)); !recorded) return recorded;
  if (auto saved = save(session); !saved) return saved;
  return text_error(std::move(message));
}

// Records `event`, saves, and prints `line` (with its line feed) as the
// command's result.
[[nodiscard]] inline CommandResult succeed(StateSession& session, brackfern::AuditEvent event, std::string_view line,
                                           Console& console) {
  if (auto recorded = record(session, std::move(event)); !recorded) return recorded;
  if (auto saved = save(session); !saved) return saved;
  console.out << line << '\n' << std::flush;
  return {};
}

// An engine operation answered with an outcome it never gives: stops the
// program with "internal error: entered unreachable code: <invariant>".
// Nothing has been saved by then.
[[noreturn]] inline void unreachable(Console& console, std::string_view invariant) {
  console.out.flush();
  console.err << "internal error: entered unreachable code: " << invariant << '\n' << std::flush;
  std::abort();
}

}  // namespace zidazavavide
