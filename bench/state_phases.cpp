// Times each phase of loading, saving and listing a node state file, to show
// where a whole command spends its time:
//
//   state_phases <state.json> [runs]
//
// read (file to text, UTF-8 check), parse (text to JSON tree), from_json
// (tree to NodeState), drop tree, to_json (NodeState to tree), write (tree
// to indented text), state_file_text (the file text as save writes it, checked
// to be the same bytes), save (state_file_text + atomic write to a sibling
// file), show (text of every event, as `audit show` prints it), drop state.
// Each phase prints its fastest time over the runs.

#include <quillmere/engine/node_state.hpp>

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
    auto text = quillmere::read_text_file(path);
    note("1 read", seconds_since(t));
    if (!text) return 1;

    t = Clock::now();
    std::optional<brackfern::JsonValue> tree;
    {
      auto parsed = brackfern::parse_json(*text);
      if (!parsed) return 1;
      tree.emplace(std::move(*parsed));
    }
    note("2 parse", seconds_since(t));

    t = Clock::now();
    auto state = quillmere::NodeState::from_json(*tree);
    note("3 from_json", seconds_since(t));
    if (!state) return 1;

    t = Clock::now();
    tree.reset();
    text->clear();
    text->shrink_to_fit();
    note("4 drop tree+text", seconds_since(t));

    t = Clock::now();
    {
      const brackfern::JsonValue out = state->to_json();
      note("5 to_json", seconds_since(t));
      t = Clock::now();
      const std::string whole = brackfern::write_pretty_json(out);
      note("6 write_pretty_json", seconds_since(t));
      t = Clock::now();
      const std::string streamed = quillmere::state_file_text(*state);
      note("7 state_file_text", seconds_since(t));
      if (streamed != whole) {
        std::cerr << "state_file_text differs from write_pretty_json(to_json())\n";
        return 1;
      }
      sink += whole.size();
      t = Clock::now();
    }
    note("8 drop out tree", seconds_since(t));

    t = Clock::now();
    if (!quillmere::save_state(*state, copy)) return 1;
    note("9 save_state (all)", seconds_since(t));

    t = Clock::now();
    for (const brackfern::SignedAuditEvent& entry : state->audit_log) sink += entry.event.to_string().size();
    note("A event to_string", seconds_since(t));

    t = Clock::now();
    state = brackfern::JsonResult<quillmere::NodeState>(quillmere::NodeState::create(state->identity));
    note("B drop state", seconds_since(t));
  }
  std::remove(copy.c_str());
  for (const auto& [name, s] : best) std::cout << name << ": " << s * 1000 << " ms\n";
  return sink == 0 ? 1 : 0;
}
