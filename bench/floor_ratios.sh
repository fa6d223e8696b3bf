#!/usr/bin/env bash
# Times every zidazavavide command against the floor it cannot go below, on a
# fresh node's state and on large states, and prints the figures as tables.
#
#   bench/floor_ratios.sh [--runs N] [--million [--million-build-only] | --fresh-only] [BUILD [BEFORE]]
#
# BUILD (default build/bench-release) and BEFORE are Release build dirs made
# with -DZZV_BUILD_BENCH=ON. With BEFORE, both programs are timed side by side
# in the same hyperfine call, so their ratio is free of the drift of a shared
# machine. The floors are measured in the same run too:
#   - changing commands, `node status` and `audit show`: `rewrite_floor` on the
#     same file (map it and bring it in whole, as the program reads it; write
#     a temporary, fsync, rename, fsync the directory), timed in the same
#     hyperfine call as the command;
#   - `audit verify`: the number of events times one Ed25519 verification as
#     `openssl speed ed25519` measures it just before and just after.
# States: a fresh node's (node init, enroll offer, enroll approve --yes), one
# of 100,000 events from make_large_state, and with --million (or
# ZZV_BENCH_1M=1) one of 1,000,000 events (about 820 MB, slow to make);
# --fresh-only measures only the fresh node's; --million-build-only times only
# BUILD on the 1,000,000-event state (BEFORE's `audit verify` there alone
# takes most of an hour). Large states take N rounds
# (default 5), the fresh node's 8 × N.
# Each command is first run once per program under /usr/bin/time, which gives
# its peak resident memory and checks its exit status, its first line of
# output and that the log gained exactly the events the command records, so a
# set-up mistake is not timed as a fast failure. Every timed run starts from a
# fresh copy of the state (hyperfine --prepare), written out to the disk
# first, floors included.
# The tools (make_large_state, rewrite_floor) come from BUILD when it has
# them, else from BEFORE (an older make_large_state may not take the offer). Ends with status 1 if any check failed.
set -euo pipefail

usage() {
  sed -n '5p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
}

runs=5
million=${ZZV_BENCH_1M:-0}
fresh_only=0
million_build_only=0
while [[ $# -gt 0 ]]; do
  case $1 in
    --runs)
      runs=$2
      shift 2
      ;;
    --million)
      million=1
      shift
      ;;
    --fresh-only)
      fresh_only=1
      shift
      ;;
    --million-build-only)
      million=1
      million_build_only=1
      shift
      ;;
    -h | --help)
      usage
      exit 0
      ;;
    --*)
      usage >&2
      exit 2
      ;;
    *) break ;;
  esac
done
[[ $# -le 2 && $runs =~ ^[0-9]+$ && $runs -ge 1 ]] || {
  usage >&2
  exit 2
}
build=$(realpath "${1:-build/bench-release}")
before=${2:+$(realpath "$2")}

labels=()
programs=()
if [[ -n $before ]]; then
  labels=(before after)
  programs=("$before/apps/cli/zidazavavide" "$build/apps/cli/zidazavavide")
else
  labels=(build)
  programs=("$build/apps/cli/zidazavavide")
fi
for program in "${programs[@]}"; do
  [[ -x $program ]] || {
    echo "floor_ratios: no program at $program" >&2
    exit 1
  }
done
tool() {
  local dir
  for dir in $build $before; do
    if [[ -x $dir/bench/$1 ]]; then
      echo "$dir/bench/$1"
      return
    fi
  done
  echo "floor_ratios: no $1 in the build dirs (build with -DZZV_BUILD_BENCH=ON)" >&2
  return 1
}
make_large_state=$(tool make_large_state)
rewrite_floor=$(tool rewrite_floor)
setup=${programs[0]}
for needed in hyperfine /usr/bin/time openssl python3; do
  command -v "$needed" >/dev/null || {
    echo "floor_ratios: $needed is missing" >&2
    exit 1
  }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/floor-ratios.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
# hyperfine -N splits commands at spaces.
[[ $work != *" "* && $build != *" "* && $before != *" "* ]] || {
  echo "floor_ratios: paths must not contain spaces" >&2
  exit 1
}
failed=0

# Inputs that do not depend on the node: the enrolled control plane's key and
# offer, another control plane (whose bundles admission refuses as
# unknown_control_plane_key), services, and passing reports.
in=$work/in
mkdir "$in"
hint=00000000-0000-4000-8000-000000000000
"$setup" dev-cp keygen --control-plane-id bench-cp --out "$in/cp.key" >/dev/null
"$setup" dev-cp offer --key "$in/cp.key" --node-hint "$hint" --out "$in/offer.json" >/dev/null
"$setup" dev-cp keygen --control-plane-id other-cp --out "$in/other.key" >/dev/null
"$setup" dev-cp offer --key "$in/other.key" --node-hint "$hint" --out "$in/other-offer.json" >/dev/null
cat >"$in/services.json" <<'EOF'
[
  {
    "service_id": "web",
    "artifact": {
      "kind": "container_image",
      "content_hash": "blake3:9f2c0e5a7b1d4c3e8f6a2b0d1c9e7f5a3b1d0c2e4f6a8b9c7d5e3f1a0b2c4d6e",
      "size_bytes": 48213504
    },
    "desired_state": "running",
    "restart_policy": "always"
  }
]
EOF
echo '{"disk_space_sufficient": true, "no_conflicting_apply_in_progress": true, "artifacts_resolvable": true}' \
  >"$in/precheck.json"
echo '{"services_healthy": "passed", "no_crash_loop": "passed"}' >"$in/postcheck.json"

# The median of the numbers on standard input, one a line.
median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# One Ed25519 verification in seconds, as openssl speed measures it now: in
# user CPU time (its default), or in wall time with -elapsed.
ed25519_verify_seconds() {
  openssl speed -mr "$@" -seconds 1 ed25519 2>/dev/null | awk -F: '/^\+F6:/ { printf "%.9g\n", 1 / $6 }'
}

# The sequence of the last event in a state file (the log ends the file).
last_sequence() {
  tail -c 8192 "$1" | grep -o '"sequence": [0-9]*' | tail -n 1 | grep -o '[0-9]*$' || echo 0
}

# A hyperfine JSON export, one line per command: "<name> <median wall> <exit
# codes> <mean user+system CPU>".
read_export() {
  python3 -c '
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(r["command"], "%.6f" % r["median"], ",".join(sorted({str(c) for c in r["exit_codes"]})),
          "%.6f" % (r["user"] + r["system"]))
' "$1"
}

mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
seconds() { awk -v s="$1" 'BEGIN { printf "%.4g", s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

declare -A median_of # [events/command/label] -> seconds, for the scale table

# measure <title> <events>: makes the state, then checks, measures and prints
# every command.
measure() {
  local title=$1 events=$2
  local dir=$work/s$events
  local -a labels=("${labels[@]}") programs=("${programs[@]}")
  if [[ $events == 1000000 && $million_build_only == 1 && ${#programs[@]} == 2 ]]; then
    labels=(after)
    programs=("${programs[1]}")
  fi
  mkdir "$dir"
  local pristine=$dir/pristine.json state=$dir/state.json
  echo "floor_ratios: making the $title state" >&2
  if [[ $events == fresh ]]; then
    "$setup" node init --state "$pristine" >/dev/null
    "$setup" enroll offer "$in/offer.json" --state "$pristine" >/dev/null
    "$setup" enroll approve --yes --state "$pristine" >/dev/null
  else
    "$make_large_state" "$pristine" "$events" "$in/offer.json"
  fi
  local count node_id size
  count=$(last_sequence "$pristine")
  node_id=$(head -c 65536 "$pristine" | sed -n 's/.*"node_id": "\([^"]*\)".*/\1/p' | head -n 1)
  size=$(stat -c %s "$pristine")
  "$setup" dev-cp bundle --key "$in/cp.key" --offer "$in/offer.json" --node-id "$node_id" --version 1 \
    --services "$in/services.json" --out "$dir/commit.json" >/dev/null
  "$setup" dev-cp bundle --key "$in/other.key" --offer "$in/other-offer.json" --node-id "$node_id" --version 1 \
    --services "$in/services.json" --out "$dir/foreign.json" >/dev/null
  local reports="--precheck $in/precheck.json --postcheck $in/postcheck.json"

  # name | kind (change, read, verify) | expected exit status | events it adds | first line (extended regex) | arguments
  local cases=(
    "enroll approve (refused)|change|1|1|^Error: \"refused: nothing is pending local owner approval\"$|enroll approve --yes --state $state"
    "enroll revoke|change|0|1|^revoked\. control plane 'bench-cp' no longer|enroll revoke --state $state"
    "enroll offer|change|0|1|^offer accepted for review: control plane 'other-cp'|enroll offer $in/other-offer.json --state $state"
    "bundle apply (refused at admission)|change|1|1|^Error: \"bundle refused at admission: unknown_control_plane_key\"$|bundle apply $dir/foreign.json --state $state $reports"
    "bundle apply (committed)|change|0|3|^committed bundle version 1$|bundle apply $dir/commit.json --state $state $reports"
    "node status|read|0|0|^node_id: +$node_id$|node status --state $state"
    "audit show > /dev/null|read|0|0|^#0*1 \[|audit show --state $state"
    "audit verify|verify|0|0|^audit chain verifies: $count events, head blake3:|audit verify --state $state"
  )

  local warmup=1
  [[ $events == fresh ]] || ((events < 1000000)) || warmup=0
  local timed_runs=$runs
  [[ $events != fresh ]] || timed_runs=$((8 * runs))

  echo
  echo "### $title: $count events, state file $(mib "$size") MiB ($size bytes); memory limit file + 32 MiB = $(mib $((size + 33554432))) MiB"
  echo
  local header="| command | floor (s) |" rule="|---|---|" label
  for label in "${labels[@]}"; do
    header+=" $label wall (s) | $label ×floor | $label CPU (s) | $label peak RSS (MiB) | $label RSS/file |"
    rule+="---|---|---|---|---|"
  done
  if ((${#labels[@]} == 2)); then
    header+=" after/before wall | after/before CPU |"
    rule+="---|---|"
  fi
  echo "$header"
  echo "$rule"

  local case_line
  for case_line in "${cases[@]}"; do
    local name kind expected added pattern arguments
    IFS='|' read -r name kind expected added pattern arguments <<<"$case_line"
    echo "floor_ratios: $title: $name" >&2

    # The checked run of each program, which also gives its peak memory.
    local i rss=() ok=() names=() commands=()
    for i in "${!programs[@]}"; do
      cp "$pristine" "$state"
      local status=0
      # shellcheck disable=SC2086
      /usr/bin/time -f %M -o "$dir/rss" "${programs[$i]}" $arguments >"$dir/out.$i" 2>"$dir/err" || status=$?
      rss[i]=$(tail -n 1 "$dir/rss")
      local first
      first=$(head -n 1 "$dir/out.$i")
      [[ -n $first ]] || first=$(head -n 1 "$dir/err")
      local problem=""
      if [[ $status != "$expected" ]]; then
        problem="exit status $status, expected $expected"
      elif ! [[ $first =~ $pattern ]]; then
        problem="first line '$first'"
      elif [[ $(last_sequence "$state") != $((count + added)) ]]; then
        problem="the log holds $(last_sequence "$state") events afterwards, expected $((count + added))"
      fi
      if [[ -n $problem ]]; then
        echo "floor_ratios: ${labels[$i]}: $name on the $title state: $problem" >&2
        failed=1
        ok[i]=0
      else
        ok[i]=1
        names+=("${labels[$i]}")
        commands+=("${programs[$i]} $arguments")
      fi
    done
    if ((${#programs[@]} == 2)) && [[ $kind != change ]] && ((ok[0] && ok[1])) &&
      ! cmp -s "$dir/out.0" "$dir/out.1"; then
      echo "floor_ratios: $name on the $title state: before and after print different output" >&2
      failed=1
    fi
    rm -f "$dir"/out.*

    local floor="" floor_cpu="" floor_text="-"
    declare -A med=() cpu=() codes=()
    if ((${#names[@]} > 0)); then
      [[ $kind == verify ]] || {
        names=(floor "${names[@]}")
        commands=("$rewrite_floor $state" "${commands[@]}")
      }
      # Rounds of one run of each, in alternating order, so that a change in
      # the machine's load falls on all of them alike.
      local round samples=() cpu_samples=() order=()
      : >"$dir/times"
      local warmup_rounds=$warmup
      [[ $kind != verify ]] || warmup_rounds=0
      for ((round = -warmup_rounds; round < timed_runs; round++)); do
        order=("${!names[@]}")
        if ((round % 2 != 0)); then
          order=()
          for ((i = ${#names[@]} - 1; i >= 0; i--)); do order+=("$i"); done
        fi
        local round_args=()
        for i in "${order[@]}"; do round_args+=(-n "${names[$i]}" "${commands[$i]}"); done
        # The copy is written out before each timed run, so that a command's
        # fsync does not also pay for the copy's pages (ext4 orders them first).
        hyperfine -N -i --style basic --runs 1 --prepare "sh -c 'cp $pristine $state && sync'" \
          --export-json "$dir/round.json" \
          "${round_args[@]}" >>"$work/hyperfine.log" 2>&1
        if ((round >= 0)); then
          read_export "$dir/round.json" >>"$dir/times"
          # The signature floor in $runs of the rounds, spread over them.
          if [[ $kind == verify ]] && (((round * runs) % timed_runs < runs)); then
            samples+=("$(ed25519_verify_seconds -elapsed)")
            cpu_samples+=("$(ed25519_verify_seconds)")
          fi
        fi
      done
      local result_name
      for result_name in "${names[@]}"; do
        med[$result_name]=$(awk -v n="$result_name" '$1 == n { print $2 }' "$dir/times" | median)
        cpu[$result_name]=$(awk -v n="$result_name" '$1 == n { print $4 }' "$dir/times" | median)
        codes[$result_name]=$(awk -v n="$result_name" '$1 == n { print $3 }' "$dir/times" | sort -u | paste -sd,)
      done
      if [[ $kind == verify ]]; then
        floor=$(awk -v n="$count" -v s="$(printf '%s\n' "${samples[@]}" | median)" 'BEGIN { printf "%.6f", n * s }')
        floor_cpu=$(awk -v n="$count" -v s="$(printf '%s\n' "${cpu_samples[@]}" | median)" 'BEGIN { printf "%.6f", n * s }')
        floor_text="sig. $(seconds "$floor") (CPU $(seconds "$floor_cpu"))"
      else
        floor=${med[floor]}
        floor_text=$(seconds "$floor")
      fi
    fi

    local row="| \`$name\` | $floor_text |"
    for i in "${!programs[@]}"; do
      label=${labels[$i]}
      if ((ok[i] == 0)); then
        row+=" FAILED | - | - | - | - |"
        continue
      fi
      if [[ ${codes[$label]} != "$expected" ]]; then
        echo "floor_ratios: ${labels[$i]}: $name on the $title state: timed runs ended with status ${codes[$label]}" >&2
        failed=1
      fi
      median_of[$events/$name/$label]=${med[$label]}
      local memory_flag=""
      ((rss[i] * 1024 <= size + 33554432)) || memory_flag=" (over)"
      local times_floor
      times_floor=$(ratio "${med[$label]}" "$floor")
      [[ -z $floor_cpu ]] || times_floor+=" (CPU $(ratio "${cpu[$label]}" "$floor_cpu"))"
      row+=" $(seconds "${med[$label]}") | $times_floor | $(seconds "${cpu[$label]}") | $(mib $((rss[i] * 1024)))$memory_flag | $(ratio $((rss[i] * 1024)) "$size") |"
    done
    if ((${#labels[@]} == 2)); then
      if ((ok[0] && ok[1])); then
        row+=" $(ratio "${med[after]}" "${med[before]}") | $(ratio "${cpu[after]}" "${cpu[before]}") |"
      else
        row+=" - | - |"
      fi
    fi
    echo "$row"
    unset med cpu codes
  done
  rm -f "$pristine" "$state" "$dir"/*.tmp-* "$dir"/.*.tmp-*
}

echo "## Command times against their floors ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
echo
echo "Medians of $runs rounds ($((8 * runs)) on the fresh state) in seconds, each round one run of the floor and of each"
echo "program in alternating order; ×floor = wall median / floor (the atomic rewrite of the same file, or for"
echo "\`audit verify\` events × one Ed25519 verification by \`openssl speed\` once per round, in wall time with"
echo "-elapsed and in CPU time, the CPU ratio beside); CPU = user + system;"
echo "peak RSS from /usr/bin/time, \"(over)\" when above the file size + 32 MiB."
for label_index in "${!labels[@]}"; do
  echo "${labels[$label_index]}: ${programs[$label_index]}"
done

measure "fresh node" fresh
[[ $fresh_only == 1 ]] || measure "100,000-event" 100000
if [[ $million == 1 && $fresh_only == 0 ]]; then
  free_bytes=$(($(df --output=avail -B1 "$work" | tail -n 1)))
  if ((free_bytes < 5 * 1024 * 1024 * 1024)); then
    echo "floor_ratios: skipping the 1,000,000-event state: less than 5 GiB free at $work" >&2
  else
    measure "1,000,000-event" 1000000
    echo
    echo "### Scale: 1,000,000-event median / 100,000-event median"
    echo
    echo "| command |$(printf ' %s |' "${labels[@]}")"
    echo "|---|$(printf -- '---|%.0s' "${labels[@]}")"
    for name in "enroll approve (refused)" "enroll revoke" "enroll offer" "bundle apply (refused at admission)" \
      "bundle apply (committed)" "node status" "audit show > /dev/null" "audit verify"; do
      row="| \`$name\` |"
      for label in "${labels[@]}"; do
        if [[ -n ${median_of[1000000/$name/$label]:-} ]]; then
          row+=" $(ratio "${median_of[1000000/$name/$label]}" "${median_of[100000/$name/$label]:-0}") |"
        else
          row+=" - |"
        fi
      done
      echo "$row"
    done
  fi
fi
exit "$failed"
