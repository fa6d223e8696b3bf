#include "dev_cp_commands.hpp"

#include "dev_control_plane.hpp"

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/contracts/service_bundle.hpp>
#include <quillmere/engine/file_io.hpp>

#include <openssl/crypto.h>

#include <string>
#include <utility>
#include <variant>

namespace zidazavavide {
namespace {

void wipe(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
}

// Wipes every string in a document tree (the key file's tree holds the seed).
void wipe_strings(brackfern::JsonValue& value) {
  if (auto* text = std::get_if<std::string>(&value.data)) {
    wipe(*text);
  } else if (auto* items = value.as_array()) {
    for (brackfern::JsonValue& item : *items) wipe_strings(item);
  } else if (auto* members = value.as_object()) {
    for (brackfern::JsonMember& member : *members) wipe_strings(member.value);
  }
}

// Reads a whole file as the document `read` (JsonSource& -> JsonResult<T>)
// reads: an unreadable file is its OS error, malformed text or a wrong
// document the JSON reader's error.
template <class Read>
auto read_file_document(const std::string& path, Read read)
    -> std::expected<typename std::invoke_result_t<Read, brackfern::JsonSource&>::value_type, CliError> {
  auto text = quillmere::read_text_file(path);
  if (!text) return std::unexpected(CliError(std::move(text.error())));
  auto document = brackfern::read_document_with(*text, read);
  wipe(*text);  // the key file holds the seed
  if (!document) return std::unexpected(CliError(std::move(document.error())));
  return std::move(*document);
}

std::expected<DevControlPlaneKey, CliError> load_key_file(const std::string& path) {
  return read_file_document(path, DevControlPlaneKey::from_json);
}

// Writes a document in its file form (indented, no trailing newline),
// replacing whatever is at `path`.
CommandResult write_document(const std::string& path, const brackfern::JsonValue& document,
                             quillmere::FileSecrecy secrecy) {
  std::string bytes = brackfern::write_pretty_json(document);
  auto written = quillmere::write_file_atomically(path, bytes, secrecy);
  if (secrecy == quillmere::FileSecrecy::Secret) wipe(bytes);
  if (!written) return std::unexpected(CliError(std::move(written.error())));
  return {};
}

void print_line(Console& console, const std::string& line) {
  console.out << line + "\n" << std::flush;
}

}  // namespace

CommandResult run_dev_cp_keygen(const DevCpKeygen& command, Console& console) {
  const DevControlPlaneKey key = DevControlPlaneKey::generate(command.control_plane_id);
  brackfern::JsonValue document = key.to_json();
  auto written = write_document(command.out, document, quillmere::FileSecrecy::Secret);
  wipe_strings(document);
  if (!written) return written;
  print_line(console, "generated dev control-plane key for '" + command.control_plane_id + "' at " + command.out);
  return {};
}

CommandResult run_dev_cp_offer(const DevCpOffer& command, Console& console) {
  auto key = load_key_file(command.key);
  if (!key) return std::unexpected(std::move(key.error()));
  auto node_hint = brackfern::NodeId::from_str(command.node_hint);
  if (!node_hint) return std::unexpected(CliError(std::move(node_hint.error())));
  const brackfern::Timestamp now = brackfern::Timestamp::now();

  auto offer = mint_enrollment_offer(*key, *node_hint, now);
  if (!offer) return std::unexpected(std::move(offer.error()));
  auto written = write_document(command.out, offer->to_json(), quillmere::FileSecrecy::Public);
  if (!written) return written;
  print_line(console, "wrote enrollment offer to " + command.out);
  return {};
}

CommandResult run_dev_cp_bundle(const DevCpBundle& command, Console& console) {
  auto key = load_key_file(command.key);
  if (!key) return std::unexpected(std::move(key.error()));

  // The offer is only a source of the key id the node recorded at
  // enrollment; it is not verified here.
  auto offer = read_file_document(command.offer, quillmere::EnrollmentOffer::from_json);
  if (!offer) return std::unexpected(std::move(offer.error()));
  const brackfern::KeyId key_id = offer->payload.key_id;

  auto node_id = brackfern::NodeId::from_str(command.node_id);
  if (!node_id) return std::unexpected(CliError(std::move(node_id.error())));

  auto services = read_file_document(command.services, quillmere::services_from_json);
  if (!services) return std::unexpected(std::move(services.error()));

  const brackfern::Timestamp now = brackfern::Timestamp::now();
  auto bundle = mint_service_bundle(*key, key_id, *node_id, command.version, std::move(*services), now);
  if (!bundle) return std::unexpected(std::move(bundle.error()));
  auto written = write_document(command.out, bundle->to_json(), quillmere::FileSecrecy::Public);
  if (!written) return written;
  print_line(console, "wrote signed bundle version " + std::to_string(command.version) + " to " + command.out);
  return {};
}

}  // namespace zidazavavide
