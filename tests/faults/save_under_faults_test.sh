#!/usr/bin/env bash
# Runs the commands that write files with open, read, write(v), fsync,
# rename, close, unlink and mmap failing at random (libfiu's POSIX preload, through
# fiu-run -x), and checks after every run that:
#   - the command ended with status 0 or 1, never by a signal or an abort;
#   - a failure printed exactly one line on standard error, "Error: ...",
#     and a success printed nothing there. Faults in write and writev also
#     hit the program's own standard error, and a line whose write failed is
#     lost or cut short; in those runs standard error must still be at most
#     the beginning of one such line, never a second line or "Error: Error:";
#   - the state file is the old or a new complete one: it loads, and its
#     audit chain verifies;
#   - once a later save has run without faults, no temporary of the state
#     is left (a save clears the leftovers of earlier ones).
#
# Usage: save_under_faults_test.sh ZIDAZAVAVIDE [RUNS]   (300 runs, 100 for a sanitizer build)
# FAULT_SEED=n repeats one sequence of runs. Exits 77 (skipped) without fiu-run.
set -u

binary=$1
runs=${2:-}
if ! command -v fiu-run >/dev/null 2>&1; then
  echo "fiu-run is not installed (Debian package fiu-utils): skipped"
  exit 77
fi

seed=${FAULT_SEED:-$(( $(date +%s) % 32768 ))}
RANDOM=$seed

work=$(mktemp -d "${TMPDIR:-/tmp}/zzv-faults-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# fiu-run preloads its libraries ahead of everything, but a sanitizer build
# needs its runtime loaded first: a small shell puts it back in front.
launch=("$binary")
asan_runtime=$(ldd "$binary" 2>/dev/null | sed -n 's/^[[:space:]]*libasan[^ ]* => \([^ ]*\) .*/\1/p')
if [ -n "$asan_runtime" ]; then
  launch=(/bin/sh -c 'LD_PRELOAD="$0 $LD_PRELOAD" exec "$@"' "$asan_runtime" "$binary")
  # libfiu keeps its settings for the life of the process.
  printf 'leak:fiu_run_preload.so\nleak:libfiu.so\n' >"$work/fiu.supp"
  export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$work/fiu.supp:print_suppressions=0"
  runs=${runs:-100}  # a sanitizer build starts several times slower
fi
runs=${runs:-300}
echo "seed $seed, $runs runs"

failures=0
fail() {
  echo "FAIL (run $run, seed $seed): $*"
  failures=$((failures + 1))
  if [ "$failures" -ge 5 ]; then
    echo "too many failures; stopping"
    exit 1
  fi
}

# What is wrong with run.err as the report of a failure, or nothing. With
# $1 = 1 the line may be cut short (its write failed).
check_error_line() {
  local text body
  text=$(cat run.err; printf x)
  text=${text%x}
  body=${text%$'\n'}
  if [[ $body == *$'\n'* ]]; then
    echo "more than one line on standard error"
  elif [[ $body != "Error: "* ]]; then
    echo "standard error does not start with Error:"
  elif [[ $body == "Error: Error: "* ]]; then
    echo "the Error: prefix is repeated"
  elif [ "$1" -eq 0 ] && { [ "$body" = "$text" ] || [ "$body" = "Error: " ]; }; then
    echo "the Error: line is incomplete"
  fi
}

clean() { "$binary" "$@" >clean.out 2>clean.err; }
must() {
  if ! clean "$@"; then
    echo "setup command failed: $* : $(cat clean.err)"
    exit 1
  fi
}

# A node enrolled with a development control plane, and bundles for it.
must node init
node_id=$(sed -n 's/^initialised node \([0-9a-f-]*\) at .*/\1/p' clean.out)
must dev-cp keygen --control-plane-id acme-cp --out cp.json
must dev-cp offer --key cp.json --node-hint "$node_id" --out offer.json
cat >services.json <<'JSON'
[{"service_id": "web", "artifact": {"kind": "container_image",
  "content_hash": "blake3:9f2c0e5a7b1d4c3e8f6a2b0d1c9e7f5a3b1d0c2e4f6a8b9c7d5e3f1a0b2c4d6e", "size_bytes": 1},
  "desired_state": "running", "restart_policy": "always"}]
JSON
echo '{"disk_space_sufficient": true, "no_conflicting_apply_in_progress": true, "artifacts_resolvable": true}' >pre.json
echo '{"services_healthy": "passed", "no_crash_loop": "passed"}' >post.json
for version in 1 2 3 4 5 6 7 8; do
  must dev-cp bundle --key cp.json --offer offer.json --node-id "$node_id" --version "$version" \
    --services services.json --out "b$version.json"
done
must enroll offer offer.json
must enroll approve --yes
must dev-cp keygen --control-plane-id spare --out spare.json

faults=(posix/io/oc/open posix/io/rw/read posix/io/sync/fsync posix/io/dir/rename posix/io/oc/close
  posix/io/dir/unlink posix/mm/mmap)
write_faults=(posix/io/rw/write posix/io/rw/writev)
probabilities=(0.005 0.02 0.05 0.1 0.2)

succeeded=0
failed=0
started=$(date +%s)
for ((run = 1; run <= runs; run++)); do
  case $((RANDOM % 7)) in
    0) command=(enroll offer offer.json) ;;
    1) command=(enroll approve --yes) ;;
    2) command=(enroll revoke) ;;
    3 | 4) command=(bundle apply "b$((RANDOM % 8 + 1)).json" --precheck pre.json --postcheck post.json) ;;
    5) command=(node init --force --node-id "$node_id") ;;
    6) command=(dev-cp keygen --control-plane-id spare --out spare.json) ;;
  esac
  probability=${probabilities[$((RANDOM % ${#probabilities[@]}))]}
  names=("${faults[@]}")
  writes_fail=$((RANDOM % 2))
  [ "$writes_fail" -eq 1 ] && names+=("${write_faults[@]}")
  controls=()
  for name in "${names[@]}"; do controls+=(-c "enable_random name=$name,probability=$probability"); done

  cp node-state.json state.before
  cp spare.json spare.before
  fiu-run -x -f "" "${controls[@]}" "${launch[@]}" "${command[@]}" >run.out 2>run.err
  status=$?
  what="${command[*]} (p=$probability, writes fail: $writes_fail)"

  case $status in
    0)
      succeeded=$((succeeded + 1))
      [ -s run.err ] && fail "$what: status 0 but standard error says: $(cat run.err)"
      # Every command here writes a new file when it succeeds.
      written=node-state.json before=state.before
      [ "${command[0]}" = dev-cp ] && written=spare.json before=spare.before
      cmp -s "$written" "$before" && fail "$what: status 0 but $written was not written"
      ;;
    1)
      failed=$((failed + 1))
      if [ "$writes_fail" -eq 0 ] || [ -s run.err ]; then
        error_line_problem=$(check_error_line "$writes_fail")
        [ -n "$error_line_problem" ] && fail "$what: $error_line_problem: $(head -c 500 run.err)"
      fi
      ;;
    *) fail "$what: ended with status $status: $(head -c 500 run.err)" ;;
  esac

  if ! cmp -s node-state.json state.before; then
    if ! clean audit verify; then
      fail "$what: the state file is neither the old one nor a sound new one: $(cat clean.err)"
      cp state.before node-state.json
    fi
  fi
  if [ "${command[0]}" = dev-cp ] && ! clean dev-cp offer --key spare.json --node-hint "$node_id" --out spare-offer.json; then
    fail "$what: the key file is neither the old one nor a sound new one: $(cat clean.err)"
  fi
  # dev-cp writes take no lock, so nothing clears their leftovers.
  rm -f .spare.json.tmp-* spare-offer.json

  if ((run % 10 == 0 || run == runs)); then
    clean enroll revoke
    leftovers=$(ls -A | grep '^\.node-state\.json\.tmp-')
    [ -n "$leftovers" ] && fail "temporaries left after a later save: $leftovers"
  fi
done
elapsed=$(($(date +%s) - started))

echo "$succeeded succeeded, $failed failed, in ${elapsed}s"
# The faults must really bite, and not every time.
if [ "$succeeded" -lt $((runs / 10)) ] || [ "$failed" -lt $((runs / 10)) ]; then
  fail "faults hit too rarely or too often to show anything"
fi
[ "$failures" -eq 0 ]
