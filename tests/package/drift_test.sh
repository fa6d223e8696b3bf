#!/usr/bin/env bash
# drift_test.sh BINARY MANPAGE BASH_COMPLETION ZSH_COMPLETION
#
# Walks the whole command tree of the built program from each command's
# --help output and checks that the manual page and the shell completions
# describe exactly that tree:
#   - the manual page's SYNOPSIS has one line per command (help subcommands
#     included) with its arguments as declared, in order, required ones bare
#     and optional ones in brackets; every command also has its entry under
#     COMMANDS with the same arguments; no line names a command that is gone;
#   - the bash completion, run in bash with COMP_WORDS/COMP_CWORD set, offers
#     exactly the subcommands of every group and of every `help`, exactly the
#     options of every command, file names for every value and positional
#     that names a file, and nothing for the ids and the version;
#   - the zsh completion names every subcommand and every option.
# Prints every mismatch and ends with status 1 if there is any.
set -euo pipefail

if [[ $# -ne 4 ]]; then
  echo "usage: $0 BINARY MANPAGE BASH_COMPLETION ZSH_COMPLETION" >&2
  exit 2
fi
binary=$(realpath "$1") manpage=$(realpath "$2")
bash_completion=$(realpath "$3") zsh_completion=$(realpath "$4")
program=zidazavavide

# Values that are typed by hand rather than named files: nothing is completed.
text_values=" NODE_ID NODE_HINT CONTROL_PLANE_ID VERSION "

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/zidazavavide-drift.XXXXXX")
trap 'rm -rf "$work"' EXIT

# --- the command tree, from --help ----------------------------------------

# Per command path ("" is the program): its subcommands, its synopsis
# arguments (positionals, then options without help) and its options.
declare -A children=() synopsis=() options=() value_of=()
declare -a groups=() leaves=()

# read_help PATH: parses `BINARY PATH --help` into the tables above.
read_help() {
  local path=$1 section="" line usage names value required first rest
  local -a words
  local help
  # shellcheck disable=SC2086 # the path is words
  if ! help=$("$binary" $path --help 2>&1); then
    fail "'$program $path --help' did not end with status 0"
    return
  fi
  children[k$path]="" synopsis[k$path]="" options[k$path]=""
  while IFS= read -r line; do
    if [[ $line =~ ^([A-Z][a-z]+):$ ]]; then
      section=${BASH_REMATCH[1]}
      continue
    fi
    [[ $line =~ ^\ +[^\ ] ]] || { [[ -z $line ]] && section=""; continue; }
    # The declaration ends where a run of two spaces starts the about text.
    usage=$(sed -E 's/^ +//; s/  .*$//' <<<"$line")
    read -r -a words <<<"$usage"
    case $section in
      Subcommands) children[k$path]+=" ${words[0]}" ;;
      Positionals)
        required=false
        [[ " ${words[*]:1} " == *" REQUIRED "* ]] && required=true
        first=${words[0]}
        [[ " ${words[*]:1} " == *" ... "* ]] && first+=...
        if $required; then synopsis[k$path]+=" $first"; else synopsis[k$path]+=" [$first]"; fi
        ;;
      Options)
        names=${words[0]}
        value="" required=false
        for rest in "${words[@]:1}"; do
          if [[ $rest == REQUIRED ]]; then required=true; elif [[ $rest =~ ^([A-Z][A-Z0-9_]*)(=.*)?$ ]]; then value=${BASH_REMATCH[1]}; fi
        done
        local name long=""
        IFS=, read -r -a words <<<"$names"
        for name in "${words[@]}"; do
          options[k$path]+=" $name"
          value_of["$path $name"]=$value
          [[ $name == --* ]] && long=$name
        done
        [[ $names == *--help* ]] && continue
        local arg=$long${value:+ $value}
        if $required; then synopsis[k$path]+=" $arg"; else synopsis[k$path]+=" [$arg]"; fi
        ;;
    esac
  done <<<"$help"
  if [[ " ${options[k$path]} " != *" --help "* ]]; then
    fail "could not read the options of '$program $path' from its --help output"
  fi
}

queue=("")
while [[ ${#queue[@]} -gt 0 ]]; do
  path=${queue[0]}
  queue=("${queue[@]:1}")
  read_help "$path"
  if [[ -n ${children[k$path]-} ]]; then
    groups+=("$path")
    for child in ${children[k$path]}; do
      queue+=("${path:+$path }$child")
    done
  else
    leaves+=("$path")
  fi
done
if [[ ${#leaves[@]} -lt 2 ]]; then
  fail "the walk found no commands under '$program --help'"
fi

# --- the manual page ------------------------------------------------------

# Rendered without line breaks, so that each synopsis is one line.
page=$(groff -man -Tascii -rLL=4000n -P-cbou "$manpage" 2>/dev/null | sed -E 's/^ +//; s/ +$//')
page_synopsis=$(sed -n '/^SYNOPSIS$/,/^DESCRIPTION$/p' <<<"$page" | grep "^$program" || true)
page_commands=$(awk '/^COMMANDS$/{on=1; next} on && /^[A-Z][A-Z ]+$/{on=0} on' <<<"$page")

for path in "${leaves[@]}"; do
  expected="$program $path${synopsis[k$path]}"
  grep -qxF -- "$expected" <<<"$page_synopsis" ||
    fail "manual page: SYNOPSIS lacks the line '$expected'"
  [[ $path == help || $path == *" help" ]] && continue
  grep -qxF -- "$path${synopsis[k$path]}" <<<"$page_commands" ||
    fail "manual page: COMMANDS lacks the entry '$path${synopsis[k$path]}'"
done
while IFS= read -r line; do
  [[ -n $line ]] || continue
  known=false
  for path in "${leaves[@]}"; do
    [[ $line == "$program $path${synopsis[k$path]}" ]] && known=true
  done
  $known || fail "manual page: SYNOPSIS line '$line' matches no command of the program"
done <<<"$page_synopsis"
for word in -h --help; do
  grep -qF -- "$word" <<<"$page" || fail "manual page: '$word' is not mentioned"
done

# --- the bash completion --------------------------------------------------

cd "$work"
touch drift-file.json

# Each case is a command line up to the cursor; bash splits it into
# COMP_WORDS as it would (at blanks, with '=' a word of its own).
cases=()
expect=()
add_case() { cases+=("$1"); expect+=("$2"); }

sorted() { tr ' ' '\n' | sed '/^$/d' | sort -u | tr '\n' ' '; }

for path in "${groups[@]}"; do
  add_case "$program${path:+ $path} " "exact:${children[k$path]}"
  add_case "$program${path:+ $path} -" "exact: -h --help"
  add_case "$program${path:+ $path} help " "exact:${children[k$path]}"
  [[ -n $path ]] && add_case "$program help $path " "exact:${children[k$path]}"
done
for path in "${leaves[@]}"; do
  [[ $path == help || $path == *" help" ]] && continue
  add_case "$program $path -" "exact:${options[k$path]}"
  for option in ${options[k$path]}; do
    value=${value_of["$path $option"]}
    [[ -n $value ]] || continue
    if [[ $text_values == *" $value "* ]]; then
      add_case "$program $path $option " "exact:"
      add_case "$program $path $option=" "exact:"
    else
      add_case "$program $path $option " "has:drift-file.json"
      add_case "$program $path $option=" "has:drift-file.json"
    fi
  done
  if [[ ${synopsis[k$path]} =~ ^\ \[?[A-Z] ]]; then
    add_case "$program $path " "has:drift-file.json"
  else
    add_case "$program $path " "exact:${options[k$path]}"
  fi
done

completer='
[[ -r /usr/share/bash-completion/bash_completion ]] && . /usr/share/bash-completion/bash_completion
. "$1"
while IFS= read -r line; do
  COMP_WORDS=()
  for word in $line; do
    while [[ $word == *=* ]]; do
      [[ -n ${word%%=*} ]] && COMP_WORDS+=("${word%%=*}")
      COMP_WORDS+=("=")
      word=${word#*=}
    done
    [[ -n $word ]] && COMP_WORDS+=("$word")
  done
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _zidazavavide
  echo "${COMPREPLY[*]}"
done
'
mapfile -t replies < <(printf '%s\n' "${cases[@]}" | bash --norc --noprofile -c "$completer" completer "$bash_completion")
if [[ ${#replies[@]} -ne ${#cases[@]} ]]; then
  fail "bash completion: answered ${#replies[@]} of ${#cases[@]} completion requests"
fi
for i in "${!cases[@]}"; do
  got=$(sorted <<<"${replies[i]-}")
  case ${expect[i]} in
    exact:*)
      want=$(sorted <<<"${expect[i]#exact:}")
      [[ $got == "$want" ]] || fail "bash completion of '${cases[i]}': offers '$got', expected '$want'"
      ;;
    has:*)
      [[ " $got " == *" ${expect[i]#has:} "* && " $got " != *" -"* ]] ||
        fail "bash completion of '${cases[i]}': offers '$got', expected file names"
      ;;
  esac
done

# --- the zsh completion ---------------------------------------------------

if command -v zsh >/dev/null 2>&1; then
  zsh -n "$zsh_completion" || fail "zsh completion: $zsh_completion does not parse"
fi
zsh_text=$(<"$zsh_completion")
for path in "${groups[@]}"; do
  label=${path:-"''"}
  branch=$(awk -v label="$label" '
    $1 == label ")" || $1 == label")" { on = 1 }
    on { print }
    on && /;;/ { exit }' <<<"$zsh_text")
  for child in ${children[k$path]}; do
    [[ $branch == *"'$child:"* || $branch == *"\"$child:"* ]] ||
      fail "zsh completion: group '${path:-$program}' does not offer '$child'"
  done
done
for path in "${leaves[@]}"; do
  [[ $path == help || $path == *" help" ]] && continue
  function_name="_zidazavavide__${path//-/_}"
  function_name=${function_name// /__}
  body=$(awk -v name="$function_name() {" '$0 == name { on = 1 } on { print } on && /^}/ { exit }' <<<"$zsh_text")
  if [[ -z $body ]]; then
    fail "zsh completion: no function $function_name for '$path'"
    continue
  fi
  for option in ${options[k$path]}; do
    [[ $option == -h || $option == --help ]] && continue
    [[ $body == *"'$option"[=[]* ]] || fail "zsh completion: '$path' does not offer '$option'"
  done
done

total=$((${#groups[@]} + ${#leaves[@]}))
if [[ $failures -gt 0 ]]; then
  echo "$failures mismatch(es) between the program and its manual page or completions" >&2
  exit 1
fi
echo "manual page and completions match all $total commands (${#cases[@]} completions checked)"
