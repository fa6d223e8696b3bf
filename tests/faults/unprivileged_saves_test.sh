#!/usr/bin/env bash
# Saves by a user who may not write the file they would replace: the file
# stays as it is and the command fails as writing into it would. Root may
# write into anything, so root's save goes through. A file the user may
# write, in a directory that refuses new files, cannot be replaced
# atomically and fails with the same writing error.
#
# Usage: unprivileged_saves_test.sh ZIDAZAVAVIDE
# Run as root, the user's commands run as nobody (setpriv); run as anyone
# else, as that user, and the root cases are left out. Exits 77 (skipped)
# when root cannot run the program as nobody.
set -u

binary=$1
if [ "$(id -u)" -eq 0 ]; then
  if ! command -v setpriv >/dev/null 2>&1 || ! setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null; then
    echo "cannot run commands as nobody (setpriv): skipped"
    exit 77
  fi
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  root=1
  if ! "${as_user[@]}" "$binary" --help >/dev/null 2>&1; then
    echo "nobody cannot run $binary (a directory on its way is private?): skipped"
    exit 77
  fi
else
  as_user=()
  root=0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zzv-unprivileged-XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 0777 "$work"
cd "$work" || exit 1
mkdir locked

failures=0
# check WHO STATUS ERR FILE CHANGED -- COMMAND...: runs the command as WHO
# (user or root) and checks its status, its standard error, whether FILE
# changed, and that no other file appeared or went.
check() {
  local who=$1 status=$2 err=$3 file=$4 changed=$5
  shift 6
  cp -p "$file" before
  local entries_before
  entries_before=$(ls -A locked . | grep -v '^\(before\|run\.out\|run\.err\)$')
  local runner=("${as_user[@]}")
  [ "$who" = root ] && runner=()
  "${runner[@]}" "$binary" "$@" >run.out 2>run.err
  local got=$?
  local label="$who: $*"
  [ "$got" -eq "$status" ] || { echo "FAIL $label: status $got, wanted $status: $(cat run.err)"; failures=$((failures + 1)); }
  [ "$(cat run.err)" = "$err" ] || { echo "FAIL $label: standard error $(cat run.err), wanted $err"; failures=$((failures + 1)); }
  if cmp -s "$file" before; then local now=0; else local now=1; fi
  [ "$now" -eq "$changed" ] || { echo "FAIL $label: $file changed: $now, wanted $changed"; failures=$((failures + 1)); }
  [ "$(stat -c %a "$file")" = "$(stat -c %a before)" ] || { echo "FAIL $label: the mode of $file changed"; failures=$((failures + 1)); }
  [ "$(ls -A locked . | grep -v '^\(before\|run\.out\|run\.err\)$')" = "$entries_before" ] ||
    { echo "FAIL $label: files came or went: $(ls -A locked . | tr '\n' ' ')"; failures=$((failures + 1)); }
  rm -f before run.out run.err
}

refused='Error: "revoke refused: cannot revoke: node is not currently enrolled or pending"'
denied='Error: "writing node state to s.json: Permission denied (os error 13)"'

# The user's own state and key file, made read-only.
"${as_user[@]}" "$binary" node init --state s.json >/dev/null || exit 1
"${as_user[@]}" "$binary" dev-cp keygen --control-plane-id acme --out k.json >/dev/null || exit 1
"${as_user[@]}" chmod 0444 s.json k.json

check user 1 "$denied" s.json 0 -- enroll revoke --state s.json
check user 1 "$denied" s.json 0 -- node init --force --state s.json
check user 1 'Error: Os { code: 13, kind: PermissionDenied, message: "Permission denied" }' k.json 0 -- \
  dev-cp keygen --control-plane-id acme --out k.json
if [ "$root" -eq 1 ]; then
  check root 1 "$refused" s.json 1 -- enroll revoke --state s.json
  check root 0 "" k.json 1 -- dev-cp keygen --control-plane-id acme --out k.json
fi

# Writable, but in a directory that refuses new files: no temporary can be made.
chmod 0777 locked
"${as_user[@]}" "$binary" node init --state locked/s.json >/dev/null || exit 1
chmod 0555 locked
check user 1 'Error: "writing node state to locked/s.json: Permission denied (os error 13)"' locked/s.json 0 -- \
  enroll revoke --state locked/s.json

[ "$failures" -eq 0 ] && echo "all unprivileged saves behaved"
[ "$failures" -eq 0 ]
