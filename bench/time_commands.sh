#!/usr/bin/env bash
# Times whole zidazavavide commands on a large node state file.
#
#   bench/time_commands.sh <zidazavavide> <state.json> [runs]
#
# For each command prints the median and the minimum wall time, the median
# user+system CPU time and the largest max RSS over the runs. Commands that
# change the state run on a fresh copy each time (the copy is not timed).
# The refused bundle is minted with dev-cp under a key the node does not know,
# so admission refuses it ("unknown_control_plane_key") and the command loads,
# records one event and saves.
set -euo pipefail

zzv=$1
state=$2
runs=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

node_id=$(sed -n 's/.*"node_id": "\(.*\)".*/\1/p' "$state" | head -n 1)
"$zzv" dev-cp keygen --control-plane-id other-cp --out "$work/cp.key" >/dev/null
"$zzv" dev-cp offer --key "$work/cp.key" --node-hint "$node_id" --out "$work/offer.json" >/dev/null
echo '[]' >"$work/services.json"
"$zzv" dev-cp bundle --key "$work/cp.key" --offer "$work/offer.json" --node-id "$node_id" --version 5 \
  --services "$work/services.json" --out "$work/bundle.json" >/dev/null
echo '{}' >"$work/report.json"

# time_one <name> <mutates: 0|1> <command...>
time_one() {
  local name=$1 mutates=$2
  shift 2
  : >"$work/times"
  for ((i = 0; i < runs; i++)); do
    if [[ $mutates == 1 ]]; then cp "$state" "$work/state.json"; else [[ -e $work/state.json ]] || cp "$state" "$work/state.json"; fi
    local start end
    start=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$work/one" "$@" >/dev/null 2>"$work/stderr" || true
    end=$(date +%s.%N)
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }') $(tail -n 1 "$work/one")" >>"$work/times"
  done
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/times" >"$work/rows"
  local wall_med wall_min cpu_med rss
  wall_med=$(cut -d' ' -f1 "$work/rows" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
  wall_min=$(cut -d' ' -f1 "$work/rows" | sort -n | head -n 1)
  cpu_med=$(cut -d' ' -f2 "$work/rows" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
  rss=$(cut -d' ' -f3 "$work/rows" | sort -n | tail -n 1)
  printf '%-22s wall median %6.3f s  min %6.3f s  cpu median %5.2f s  max RSS %7.1f MiB\n' \
    "$name" "$wall_med" "$wall_min" "$cpu_med" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
}

s=$work/state.json
cp "$state" "$s"
time_one "node status" 0 "$zzv" node status --state "$s"
time_one "audit show" 0 "$zzv" audit show --state "$s"
time_one "audit verify" 0 "$zzv" audit verify --state "$s"
time_one "enroll revoke" 1 "$zzv" enroll revoke --state "$s"
time_one "bundle apply (refused)" 1 "$zzv" bundle apply --state "$s" --precheck "$work/report.json" \
  --postcheck "$work/report.json" "$work/bundle.json"
