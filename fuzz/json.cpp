// The JSON reader, the file writer and the canonical form on arbitrary bytes.
//
// Properties: nothing crashes; a value that was read, written in the file form
// and read again is the same value; a value whose canonical form exists reads
// back from that form, and the canonical form of what was read back is the
// same bytes.

#include "fuzz_check.hpp"

#include <brackfern/contracts/json_value.hpp>
#include <brackfern/crypto/canonical_json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using zzv_fuzz::require;
  auto value = brackfern::parse_json(zzv_fuzz::as_text(data, size));
  if (!value) return 0;

  const std::string pretty = brackfern::write_pretty_json(*value);
  auto reread = brackfern::parse_json(pretty);
  require(reread.has_value(), "the file form of a parsed value parses");
  require(*reread == *value, "the file form of a parsed value reads back equal");
  require(brackfern::write_pretty_json(*reread) == pretty, "writing the file form is stable");

  auto canonical = brackfern::canonical_bytes(*value);
  if (!canonical) return 0;
  auto canonical_value = brackfern::parse_json(*canonical);
  require(canonical_value.has_value(), "canonical bytes parse");
  auto again = brackfern::canonical_bytes(*canonical_value);
  require(again.has_value(), "canonical bytes of canonical bytes exist");
  require(*again == *canonical, "canonical bytes are idempotent");
  return 0;
}
