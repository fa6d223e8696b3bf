#include "cli_error.hpp"

#include <brackfern/contracts/debug_quote.hpp>
#include <brackfern/contracts/utf8.hpp>

#include <type_traits>

namespace zidazavavide {
namespace {

std::string json_display(const brackfern::JsonError& e) {
  if (e.line == 0) return e.message;
  return e.message + " at line " + std::to_string(e.line) + " column " + std::to_string(e.column);
}

}  // namespace

std::string CliError::display() const {
  return std::visit(
      [](const auto& e) -> std::string {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, TextMessage>) {
          return e.text;
        } else if constexpr (std::is_same_v<T, brackfern::JsonError>) {
          return json_display(e);
        } else if constexpr (std::is_same_v<T, quillmere::OsError>) {
          return e.display();
        } else {
          return e.message();
        }
      },
      value_);
}

std::string CliError::debug() const {
  return std::visit(
      [](const auto& e) -> std::string {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, TextMessage>) {
          // A path in the message may hold any bytes; it is shown as a lossy
          // UTF-8 decoder would read it, never byte by byte.
          return brackfern::debug_quote(brackfern::to_utf8_lossy(e.text));
        } else {
          return e.debug();
        }
      },
      value_);
}

}  // namespace zidazavavide
