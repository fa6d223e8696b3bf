#pragma once

#include <istream>
#include <ostream>

namespace zidazavavide {

// The three standard streams a command talks to. Handlers write their result
// line to `out`, read the approval answer from `in`, and never write to `err`:
// the entry alone reports failures there.
struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

}  // namespace zidazavavide
