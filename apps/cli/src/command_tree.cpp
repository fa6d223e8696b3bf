#include "command_tree.hpp"

#include <CLI/CLI.hpp>
#include <brackfern/contracts/utf8.hpp>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zidazavavide {
namespace {

constexpr const char* kProgramName = "zidazavavide";
constexpr const char* kProgramAbout =
    "Quillmere managed-node agent — enrollment and signed service-bundle updates, nothing else";
constexpr const char* kHelpAbout = "Print this message or the help of the given subcommand(s)";
constexpr const char* kDefaultState = "node-state.json";
constexpr const char* kHelpHint = "Run with --help for more information.\n";

// A decimal unsigned 64-bit number: digits only (010 is ten), no sign, within
// range. CLI11's own integer conversion is not used for this: it wraps -1,
// accepts +3 and 0x10, reads 010 as octal eight and clamps values beyond the range.
std::optional<std::uint64_t> parse_decimal_u64(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string decimal_u64_problem(const std::string& text) {
  if (parse_decimal_u64(text)) return {};
  return "'" + text + "' is not a decimal unsigned 64-bit number (digits only, no sign, at most " +
         std::to_string(UINT64_MAX) + ")";
}

// CLI11 reads `--name=` (an empty value after '=') as `--name` alone and then
// takes the NEXT word as the value, so `--node-id= --force` would make
// "--force" the node id. Such a word is handed over as `--name` followed by
// an empty word, which CLI11 reads as the empty value it is. Words after a
// bare `--` are left alone.
std::vector<std::string> with_empty_values_split(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  words.reserve(args.size() + 1);
  bool options_ended = false;
  for (const std::string& arg : args) {
    if (arg == "--") options_ended = true;
    const bool empty_value = !options_ended && arg.size() > 3 && arg.starts_with("--") && arg.back() == '=' &&
                             arg.find('=') == arg.size() - 1;
    if (empty_value) {
      words.push_back(arg.substr(0, arg.size() - 1));
      words.emplace_back();
    } else {
      words.push_back(arg);
    }
  }
  return words;
}

// The number of single-byte edits (insertion, deletion, substitution, or
// swapping two neighbours) that turn `a` into `b`.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t substitution = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, substitution});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string_view without_dashes(std::string_view word) {
  while (word.starts_with('-')) word.remove_prefix(1);
  return word;
}

// The one candidate that `word` most likely meant to be: the same name with
// other dashes, a name it begins, or one at most a third of its length of
// edits away (one edit for short names). Nothing when two are equally near
// or the word already is a candidate (then it is misplaced, not mistyped).
std::optional<std::string> nearest(const std::string& word, const std::vector<std::string>& candidates) {
  const std::string_view typed = without_dashes(std::string_view(word).substr(0, word.find('=')));
  std::optional<std::string> best;
  std::size_t best_score = SIZE_MAX;
  bool tied = false;
  for (const std::string& candidate : candidates) {
    if (candidate == word) return std::nullopt;
    const std::string_view name = without_dashes(candidate);
    std::size_t score = edit_distance(typed, name);
    if (!typed.empty() && name.starts_with(typed)) score = std::min<std::size_t>(score, 1);
    if (typed == name) score = 0;
    if (score > std::max<std::size_t>(1, name.size() / 3)) continue;
    if (score < best_score) {
      best = candidate;
      best_score = score;
      tied = false;
    } else if (score == best_score) {
      tied = true;
    }
  }
  return tied ? std::nullopt : best;
}

// "; did you mean 'status'?" for the first word with a near candidate
// (naming that word when there are several), or nothing.
std::string suggestion_for(const std::vector<std::string>& words,
                           const std::function<std::vector<std::string>(const std::string&)>& candidates_for) {
  for (const std::string& word : words) {
    if (const auto near = nearest(word, candidates_for(word))) {
      return "; did you mean '" + *near + "'" + (words.size() == 1 ? "" : " for '" + word + "'") + "?";
    }
  }
  return {};
}

// CLI11's own message lists the unexpected words last to first; this one
// keeps the order in which they were given.
std::string extras_message(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) {
    if (!joined.empty()) joined += ' ';
    joined += word;
  }
  return words.size() == 1 ? "The following argument was not expected: " + joined
                           : "The following arguments were not expected: " + joined;
}

// The command path shown in help and usage lines, e.g. "zidazavavide node init".
std::string path_of(const CLI::App& app) {
  const CLI::App* parent = app.get_parent();
  return parent == nullptr ? app.get_name() : path_of(*parent) + " " + app.get_name();
}

std::string help_text(const CLI::App& app) {
  return app.get_formatter()->make_help(&app, path_of(app), CLI::AppFormatMode::Normal);
}

ParseExit usage_error(const CLI::App& app, const std::string& what) {
  return ParseExit{2, {}, what + "\n" + CLI::Formatter().make_usage(&app, path_of(app)) + kHelpHint};
}

std::vector<const CLI::App*> children_of(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

const CLI::App* find_child(const CLI::App& app, const std::string& name) {
  for (const CLI::App* child : children_of(app)) {
    if (child->get_name() == name) return child;
  }
  return nullptr;
}

std::vector<std::string> child_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* child : children_of(app)) names.push_back(child->get_name());
  return names;
}

// What a word after an option is when it cannot be that option's value:
// anything that begins with '-' and is longer than one character, so that
// `--state --force` never names a file "--force". A lone "-" is a value.
bool looks_like_an_option(const std::string& word) {
  return word.size() > 1 && word.front() == '-';
}

// Holds the CLI11 tree and the storage its options write into. Built afresh
// for every parse; not copyable because CLI11 keeps pointers into it.
class CommandTree {
 public:
  CommandTree();
  CommandTree(const CommandTree&) = delete;
  CommandTree& operator=(const CommandTree&) = delete;

  [[nodiscard]] ParseOutcome parse(const std::vector<std::string>& args);

 private:
  using Take = std::function<ParseOutcome()>;
  struct HelpCommand {
    CLI::App* app = nullptr;
    std::vector<std::string> topics;
  };
  // A long option of a leaf as the tree declares it. A flag has no value name.
  struct Argument {
    const CLI::App* leaf = nullptr;
    std::string name;        // "--state"
    std::string value_name;  // "STATE"; empty for a flag
    bool text = false;       // its value must be valid UTF-8
    const CLI::Option* option = nullptr;

    [[nodiscard]] bool is_flag() const { return value_name.empty(); }
    // The argument as the command line spells it: "--state <STATE>", "--force".
    [[nodiscard]] std::string spelled() const { return is_flag() ? name : name + " <" + value_name + ">"; }
  };
  enum class ValueKind { Path, Text };

  CLI::App& add_group(CLI::App& parent, const std::string& name, const std::string& about);
  CLI::App& add_leaf(CLI::App& group, const std::string& name, const std::string& about, Take take);
  void add_help_command(CLI::App& group);
  void add_state(CLI::App& leaf, std::string& state);
  void add_switch(CLI::App& leaf, const std::string& name, bool& target);
  CLI::Option* add_value(CLI::App& leaf, const std::string& name, const std::string& value_name, std::string& target,
                         ValueKind kind = ValueKind::Path);
  CLI::Option* add_required(CLI::App& leaf, const std::string& name, const std::string& value_name, std::string& target,
                            ValueKind kind = ValueKind::Path);

  [[nodiscard]] const Argument* find_argument(const CLI::App& app, std::string_view name) const;
  [[nodiscard]] std::vector<std::string> option_names(const CLI::App& app) const;
  [[nodiscard]] std::optional<ParseExit> check_option_words(const std::vector<std::string>& args) const;
  [[nodiscard]] std::optional<ParseExit> check_text_values(const CLI::App& leaf) const;
  [[nodiscard]] ParseExit unexpected_words(const CLI::App& app, const std::vector<std::string>& words) const;
  [[nodiscard]] const CLI::App& deepest_selected() const;
  [[nodiscard]] bool is_group(const CLI::App& app) const;
  [[nodiscard]] ParseOutcome take_selected() const;
  [[nodiscard]] ParseOutcome run_help(const HelpCommand& help) const;

  CLI::App root_;
  std::vector<const CLI::App*> groups_;
  std::vector<std::pair<const CLI::App*, Take>> leaves_;
  std::deque<HelpCommand> help_commands_;  // deque: CLI11 holds pointers to the topics
  std::vector<Argument> arguments_;

  NodeInit node_init_;
  std::string node_init_node_id_;
  CLI::Option* node_init_node_id_option_ = nullptr;
  NodeStatus node_status_;
  EnrollOffer enroll_offer_;
  EnrollApprove enroll_approve_;
  EnrollRevoke enroll_revoke_;
  BundleApply bundle_apply_;
  AuditShow audit_show_;
  AuditVerify audit_verify_;
  DevCpKeygen dev_cp_keygen_;
  DevCpOffer dev_cp_offer_;
  DevCpBundle dev_cp_bundle_;
  std::string dev_cp_bundle_version_;
};

CommandTree::CommandTree() : root_(kProgramAbout, kProgramName) {
  root_.require_subcommand(1);
  groups_.push_back(&root_);

  CLI::App& node = add_group(root_, "node", "This node's own local identity and state file");
  {
    CLI::App& init = add_leaf(node, "init", "Create a fresh node identity and state file", [this]() -> ParseOutcome {
      NodeInit command = node_init_;
      // Whether the optional node id was given shows only in its count.
      if (node_init_node_id_option_->count() > 0) command.node_id = node_init_node_id_;
      return command;
    });
    add_state(init, node_init_.state);
    node_init_node_id_option_ = add_value(init, "--node-id", "NODE_ID", node_init_node_id_, ValueKind::Text);
    add_switch(init, "--force", node_init_.force);

    CLI::App& status = add_leaf(node, "status", "Print this node's enrollment and committed-bundle status",
                                [this]() -> ParseOutcome { return node_status_; });
    add_state(status, node_status_.state);
    add_help_command(node);
  }

  CLI::App& enroll = add_group(root_, "enroll",
                               "Enrollment with a control plane. `approve` and `revoke` only ever run at this node's "
                               "own console — see STATUS.md");
  {
    CLI::App& offer = add_leaf(enroll, "offer",
                               "Ingest a signed enrollment offer. Moves to `pending_owner_approval` at most — never "
                               "further",
                               [this]() -> ParseOutcome { return enroll_offer_; });
    offer.add_option("OFFER", enroll_offer_.offer)->required()->type_name("");
    add_state(offer, enroll_offer_.state);

    CLI::App& approve = add_leaf(enroll, "approve",
                                 "The only command that can enroll this node. Prompts at this console unless `--yes` "
                                 "pre-authorises non-interactively (e.g. a scripted local install)",
                                 [this]() -> ParseOutcome { return enroll_approve_; });
    add_state(approve, enroll_approve_.state);
    add_switch(approve, "--yes", enroll_approve_.yes);

    CLI::App& revoke =
        add_leaf(enroll, "revoke", "Withdraw enrollment. The previously-trusted control plane keeps no authority",
                 [this]() -> ParseOutcome { return enroll_revoke_; });
    add_state(revoke, enroll_revoke_.state);
    add_help_command(enroll);
  }

  CLI::App& bundle = add_group(root_, "bundle", "Admit and apply a signed service bundle");
  {
    CLI::App& apply = add_leaf(bundle, "apply",
                               "Run the full pipeline: admission → pre-check → apply → post-check → "
                               "commit-or-rollback",
                               [this]() -> ParseOutcome { return bundle_apply_; });
    apply.add_option("BUNDLE", bundle_apply_.bundle)->required()->type_name("");
    add_state(apply, bundle_apply_.state);
    add_required(apply, "--precheck", "PRECHECK", bundle_apply_.precheck);
    add_required(apply, "--postcheck", "POSTCHECK", bundle_apply_.postcheck);
    add_help_command(bundle);
  }

  CLI::App& audit = add_group(root_, "audit", "Inspect this node's tamper-evident local audit log");
  {
    CLI::App& show = add_leaf(audit, "show", "", [this]() -> ParseOutcome { return audit_show_; });
    add_state(show, audit_show_.state);
    CLI::App& verify = add_leaf(audit, "verify", "", [this]() -> ParseOutcome { return audit_verify_; });
    add_state(verify, audit_verify_.state);
    add_help_command(audit);
  }

  CLI::App& dev_cp = add_group(root_, "dev-cp",
                               "Offline test harness that plays a control plane, for exercising this CLI without a "
                               "second product or a network. NOT part of Quillmere's own trust surface");
  {
    CLI::App& keygen = add_leaf(dev_cp, "keygen", "Generate a fake control-plane signing key",
                                [this]() -> ParseOutcome { return dev_cp_keygen_; });
    add_required(keygen, "--control-plane-id", "CONTROL_PLANE_ID", dev_cp_keygen_.control_plane_id, ValueKind::Text);
    add_required(keygen, "--out", "OUT", dev_cp_keygen_.out);

    CLI::App& offer =
        add_leaf(dev_cp, "offer", "Mint a signed enrollment offer", [this]() -> ParseOutcome { return dev_cp_offer_; });
    add_required(offer, "--key", "KEY", dev_cp_offer_.key);
    add_required(offer, "--node-hint", "NODE_HINT", dev_cp_offer_.node_hint, ValueKind::Text);
    add_required(offer, "--out", "OUT", dev_cp_offer_.out);

    CLI::App& mint = add_leaf(
        dev_cp, "bundle", "Mint a signed service bundle, using the key id an earlier offer advertised",
        [this]() -> ParseOutcome {
          const auto version = parse_decimal_u64(dev_cp_bundle_version_);
          if (!version) {
            return usage_error(deepest_selected(), "--version: " + decimal_u64_problem(dev_cp_bundle_version_));
          }
          DevCpBundle command = dev_cp_bundle_;
          command.version = *version;
          return command;
        });
    add_required(mint, "--key", "KEY", dev_cp_bundle_.key);
    add_required(mint, "--offer", "OFFER", dev_cp_bundle_.offer);
    add_required(mint, "--node-id", "NODE_ID", dev_cp_bundle_.node_id, ValueKind::Text);
    add_required(mint, "--version", "VERSION", dev_cp_bundle_version_)
        ->check(CLI::Validator([](std::string& text) { return decimal_u64_problem(text); }, ""));
    add_required(mint, "--services", "SERVICES", dev_cp_bundle_.services);
    add_required(mint, "--out", "OUT", dev_cp_bundle_.out);
    add_help_command(dev_cp);
  }

  add_help_command(root_);
}

CLI::App& CommandTree::add_group(CLI::App& parent, const std::string& name, const std::string& about) {
  CLI::App* group = parent.add_subcommand(name, about);
  group->require_subcommand(1);
  groups_.push_back(group);
  return *group;
}

CLI::App& CommandTree::add_leaf(CLI::App& group, const std::string& name, const std::string& about, Take take) {
  CLI::App* leaf = group.add_subcommand(name, about);
  leaves_.emplace_back(leaf, std::move(take));
  return *leaf;
}

void CommandTree::add_help_command(CLI::App& group) {
  HelpCommand& help = help_commands_.emplace_back();
  help.app = group.add_subcommand("help", kHelpAbout);
  help.app->add_option("COMMAND", help.topics)->type_name("");
}

void CommandTree::add_state(CLI::App& leaf, std::string& state) {
  state = kDefaultState;
  add_value(leaf, "--state", "STATE", state)->capture_default_str();
}

// A flag is present or absent. `--force=false` never reaches CLI11 (see
// check_option_words); refusing overrides keeps CLI11 from reading one anyway.
void CommandTree::add_switch(CLI::App& leaf, const std::string& name, bool& target) {
  arguments_.push_back({&leaf, name, {}, false, leaf.add_flag(name, target)->disable_flag_override()});
}

CLI::Option* CommandTree::add_value(CLI::App& leaf, const std::string& name, const std::string& value_name,
                                    std::string& target, ValueKind kind) {
  CLI::Option* option = leaf.add_option(name, target)->type_name(value_name);
  arguments_.push_back({&leaf, name, value_name, kind == ValueKind::Text, option});
  return option;
}

CLI::Option* CommandTree::add_required(CLI::App& leaf, const std::string& name, const std::string& value_name,
                                       std::string& target, ValueKind kind) {
  return add_value(leaf, name, value_name, target, kind)->required();
}

const CommandTree::Argument* CommandTree::find_argument(const CLI::App& app, std::string_view name) const {
  for (const Argument& argument : arguments_) {
    if (argument.leaf == &app && argument.name == name) return &argument;
  }
  return nullptr;
}

// The long options `app` accepts, in declaration order, help last.
std::vector<std::string> CommandTree::option_names(const CLI::App& app) const {
  std::vector<std::string> names;
  for (const Argument& argument : arguments_) {
    if (argument.leaf == &app) names.push_back(argument.name);
  }
  names.emplace_back("--help");
  return names;
}

// The checks CLI11 cannot make, run over the words before CLI11 sees them,
// following the subcommands as CLI11 will: a flag given a value (`--yes=true`,
// `--help=1`, `-h=1`), an option without its value (at the end, or followed
// by a word that looks like an option), and an option or flag given twice.
// Words after a bare `--` are positional and left alone.
std::optional<ParseExit> CommandTree::check_option_words(const std::vector<std::string>& args) const {
  const CLI::App* app = &root_;
  std::vector<const Argument*> seen;
  const auto flag_with_value = [&](const std::string& flag) {
    return usage_error(*app, "the flag '" + flag + "' takes no value; write '" + flag + "' alone");
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--") break;
    if (word.starts_with("--")) {
      const std::size_t equals = word.find('=');
      const std::string name = word.substr(0, equals);
      if (name == "--help") {
        if (equals != std::string::npos) return flag_with_value(name);
        continue;
      }
      const Argument* argument = find_argument(*app, name);
      if (argument == nullptr) continue;  // not this command's: CLI11 reports it
      if (std::find(seen.begin(), seen.end(), argument) != seen.end()) {
        return usage_error(*app, std::string(argument->is_flag() ? "the flag '" : "the option '") +
                                     argument->spelled() + "' can be given only once");
      }
      seen.push_back(argument);
      if (argument->is_flag()) {
        if (equals != std::string::npos) return flag_with_value(name);
        continue;
      }
      if (equals != std::string::npos) continue;
      const std::string needs_value = "the option '" + argument->spelled() + "' needs a value";
      if (i + 1 == args.size()) return usage_error(*app, needs_value);
      const std::string& next = args[i + 1];
      if (looks_like_an_option(next)) {
        return usage_error(*app, needs_value + "; to give it '" + next + "', write '" + name + "=" + next + "'");
      }
      ++i;  // the value, whatever it reads like
    } else if (word.starts_with("-h") && word.size() > 2) {
      // `-h=1`, `-hx`: CLI11 would take the -h and print help.
      return flag_with_value("-h");
    } else if (!looks_like_an_option(word)) {
      if (const CLI::App* child = find_child(*app, word)) app = child;
    }
  }
  return std::nullopt;
}

// Identifiers and other text arguments must be UTF-8; paths may hold any bytes.
std::optional<ParseExit> CommandTree::check_text_values(const CLI::App& leaf) const {
  for (const Argument& argument : arguments_) {
    if (argument.leaf != &leaf || !argument.text) continue;
    for (const std::string& value : argument.option->results()) {
      if (!brackfern::is_valid_utf8(value)) {
        return usage_error(leaf, "the value of '" + argument.spelled() + "' is not valid UTF-8");
      }
    }
  }
  return std::nullopt;
}

// Words that `app` has no use for, with the nearest subcommand or option
// when one of them looks like a slip of the keyboard.
ParseExit CommandTree::unexpected_words(const CLI::App& app, const std::vector<std::string>& words) const {
  const auto candidates = [&](const std::string& word) {
    return looks_like_an_option(word) ? option_names(app) : child_names(app);
  };
  return usage_error(app, extras_message(words) + suggestion_for(words, candidates));
}

const CLI::App& CommandTree::deepest_selected() const {
  const CLI::App* app = &root_;
  while (!app->get_subcommands().empty()) app = app->get_subcommands().front();
  return *app;
}

bool CommandTree::is_group(const CLI::App& app) const {
  for (const CLI::App* group : groups_) {
    if (group == &app) return true;
  }
  return false;
}

ParseOutcome CommandTree::run_help(const HelpCommand& help) const {
  const CLI::App* target = help.app->get_parent();
  for (const std::string& topic : help.topics) {
    const CLI::App* next = find_child(*target, topic);
    if (next == nullptr) {
      const auto candidates = [&](const std::string&) { return child_names(*target); };
      return usage_error(*help.app,
                         "the subcommand '" + topic + "' wasn't recognized" + suggestion_for({topic}, candidates));
    }
    target = next;
  }
  return ParseExit{0, help_text(*target), {}};
}

// Turns the matched tree into the command value. CLI11 has already refused
// everything these checks could find; they stay as the last line of defence
// and report through the same channel as CLI11's own errors.
ParseOutcome CommandTree::take_selected() const {
  const CLI::App& selected = deepest_selected();
  for (const auto& [leaf, take] : leaves_) {
    if (leaf != &selected) continue;
    if (auto refused = check_text_values(selected)) return *refused;
    return take();
  }
  for (const HelpCommand& help : help_commands_) {
    if (help.app == &selected) return run_help(help);
  }
  if (is_group(selected)) return usage_error(selected, "a subcommand is required but one was not provided");
  return usage_error(selected, "the subcommand '" + selected.get_name() + "' wasn't recognized");
}

ParseOutcome CommandTree::parse(const std::vector<std::string>& args) {
  if (auto refused = check_option_words(args)) return *refused;
  const std::vector<std::string> words = with_empty_values_split(args);
  std::vector<std::string> reversed(words.rbegin(), words.rend());  // CLI11 consumes from the back
  try {
    root_.parse(reversed);
  } catch (const CLI::Success&) {
    // -h or --help: the help of the command it was given to.
    return ParseExit{0, help_text(deepest_selected()), {}};
  } catch (const CLI::RequiredError& e) {
    const CLI::App& selected = deepest_selected();
    if (is_group(selected) && selected.get_subcommands().empty()) {
      // CLI11 checks for the missing subcommand before it complains about
      // words it did not recognise; those words are the real mistake.
      if (const auto unexpected = root_.remaining(true); !unexpected.empty()) {
        return unexpected_words(selected, unexpected);
      }
      // A group without its subcommand shows that group's help as the error.
      return ParseExit{2, {}, help_text(selected)};
    }
    return usage_error(selected, e.what());
  } catch (const CLI::ExtrasError&) {
    return unexpected_words(deepest_selected(), root_.remaining(true));
  } catch (const CLI::Error& e) {
    return usage_error(deepest_selected(), e.what());
  } catch (const std::exception& e) {
    return usage_error(root_, e.what());
  }
  return take_selected();
}

}  // namespace

ParseOutcome parse_command_line(const std::vector<std::string>& args) {
  try {
    CommandTree tree;
    return tree.parse(args);
  } catch (const std::exception& e) {
    // Building the tree cannot fail with the declarations above; should CLI11
    // ever refuse one, report it rather than let it escape.
    return ParseExit{2, {}, std::string("internal error: ") + e.what() + "\n"};
  }
}

}  // namespace zidazavavide
