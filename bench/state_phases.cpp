// Times each phase of loading, saving and listing a node state file, to show
// where a whole command spends its time:
//
//   state_phases <state.json> [runs]
//
// map (file to text), the UTF-8 check (which loading makes only of a text it
// refuses), read_state_text (text to NodeState in one pass, log entries kept
// as spans of the text), state_file_text (the file
// text as save writes it, checked to be the bytes read), save (the pieces
// written atomically to a sibling file), show (text of every event, as
// `audit show` prints it), event bytes (every event decoded and its signed
// bytes written, as `audit verify` does before each signature check), drop
// state. Each phase prints its fastest time over the runs.

#include <quillmere/engine/node_state.hpp>

#include <brackfern/audit/audit_chain.hpp>
#include <brackfern/contracts/utf8.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: state_phases <state.json> [runs]\n";
    return 2;
  }
  const std::string path = argv[1];
  const int runs = argc == 3 ? std::atoi(argv[2]) : 3;
  const std::string copy = path + ".phases";
  std::map<std::string, double> best;
  const auto note = [&best](const std::string& name, double s) {
    auto [it, inserted] = best.try_emplace(name, s);
    if (!inserted) it->second = std::min(it->second, s);
  };

  std::size_t sink = 0;
  for (int run = 0; run < runs; ++run) {
    auto t = Clock::now();
    auto text = quillmere::map_file(path);
    note("1 map", seconds_since(t));
    if (!text) return 1;
    const std::size_t size = text->view().size();

    t = Clock::now();
    sink += brackfern::is_valid_utf8(text->view()) ? 1 : 0;
    note("1a UTF-8 check", seconds_since(t));

    t = Clock::now();
    auto state = quillmere::read_state_text(std::move(*text));
    note("2 read_state_text", seconds_since(t));
    if (!state) return 1;

    t = Clock::now();
    {
      const std::string written = quillmere::state_file_text(*state);
      note("3 state_file_text", seconds_since(t));
      if (written.size() != size) {
        std::cerr << "state_file_text differs from the file read\n";
        return 1;
      }
      sink += written.size();
    }

    t = Clock::now();
    if (!quillmere::save_state(*state, copy)) return 1;
    note("4 save_state", seconds_since(t));

    t = Clock::now();
    state->audit_log.for_each([&sink](const brackfern::SignedAuditEvent& entry) {
      sink += entry.event.to_string().size();
      return true;
    });
    note("5 event to_string", seconds_since(t));

    t = Clock::now();
    state->audit_log.for_each([&sink](const brackfern::SignedAuditEvent& entry) {
      sink += brackfern::audit_event_bytes(entry.event).value().size();
      return true;
    });
    note("6 event bytes", seconds_since(t));

    t = Clock::now();
    state = brackfern::JsonResult<quillmere::NodeState>(quillmere::NodeState::create(state->identity));
    note("7 drop state", seconds_since(t));
  }
  std::remove(copy.c_str());
  for (const auto& [name, s] : best) std::cout << name << ": " << s * 1000 << " ms\n";
  return sink == 0 ? 1 : 0;
}
