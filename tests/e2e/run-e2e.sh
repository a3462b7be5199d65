#!/usr/bin/env bash
# End-to-end tests: requests piped into the built executable, response line
# compared byte for byte.
#
#   tests/e2e/run-e2e.sh [QUELT_NATIVE [QUELT_REQUEST]] [--filter TEXT]
#
# Each folder tests/e2e/cases/<name>/ holds
#   request.json      the exact request bytes (may be non-canonical on purpose), or
#   project/ + request.args
#                     a folder of .quelt files and the quelt-request arguments
#                     (one per line; the folder is appended), and optionally
#   args              command-line arguments for the executable, one per line
#                     (standard input is then empty),
#   expected.txt      the exact response line (with its line feed),
#   expected-status   the exit status (default 0).
# Standard error must stay empty. Cases with large inputs are generated here.
# QUELT_E2E_SKIP may name cases to leave out (space-separated), for builds
# too slow for a case's own time budget.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
NATIVE="$ROOT/build/quelt-native"
REQUEST="$ROOT/build/quelt-request"
FILTER=""
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --filter) FILTER="$2"; shift 2 ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ "${#positional[@]}" -ge 1 ] && NATIVE="${positional[0]}"
[ "${#positional[@]}" -ge 2 ] && REQUEST="${positional[1]}"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
passed=0
failed=0

envelope() {
  printf '{"format":"quelt-native-project-json-v1","status":"error","profile":"closed-pure-native-project-macos-v1","error":{"code":"%s","phase":"%s","location":null}}\n' "$1" "$2"
}

# check NAME EXPECTED_FILE EXPECTED_STATUS ACTUAL_STATUS
check() {
  local name=$1 expected=$2 want_status=$3 status=$4
  local problems=""
  if ! cmp -s "$expected" "$WORK/out"; then
    problems+=$'\n  stdout differs:\n    expected: '"$(head -c 400 "$expected")"$'\n    actual:   '"$(head -c 400 "$WORK/out")"
  fi
  if [ "$status" != "$want_status" ]; then
    problems+=$'\n  exit status '"$status, expected $want_status"
  fi
  if [ -s "$WORK/err" ]; then
    problems+=$'\n  stderr not empty: '"$(head -c 400 "$WORK/err")"
  fi
  if [ -z "$problems" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name$problems"
  fi
}

selected() {
  local skipped
  for skipped in ${QUELT_E2E_SKIP:-}; do
    [ "$1" = "$skipped" ] && return 1
  done
  [ -z "$FILTER" ] || [[ "$1" == *"$FILTER"* ]]
}

run_case() {
  local dir=$1 name
  name=$(basename "$dir")
  selected "$name" || return 0
  local request="$WORK/request" args=() want_status=0
  if [ -f "$dir/request.json" ]; then
    cp "$dir/request.json" "$request"
  elif [ -d "$dir/project" ] && [ -f "$dir/request.args" ]; then
    local request_args=()
    mapfile -t request_args < "$dir/request.args"
    if ! "$REQUEST" "${request_args[@]}" "$dir/project" > "$request" 2> "$WORK/err"; then
      failed=$((failed + 1))
      echo "FAIL $name"$'\n'"  quelt-request failed: $(cat "$WORK/err")"
      return
    fi
  elif [ -f "$dir/args" ]; then
    : > "$request"
  else
    failed=$((failed + 1))
    echo "FAIL $name"$'\n'"  no request.json, project/ + request.args, or args"
    return
  fi
  [ -f "$dir/args" ] && mapfile -t args < "$dir/args"
  [ -f "$dir/expected-status" ] && want_status=$(tr -d '[:space:]' < "$dir/expected-status")
  "$NATIVE" "${args[@]}" < "$request" > "$WORK/out" 2> "$WORK/err"
  check "$name" "$dir/expected.txt" "$want_status" $?
}

for dir in "$ROOT"/tests/e2e/cases/*/; do
  run_case "${dir%/}"
done

# Generated cases: sizes around the 16 MiB transport limit.
if selected host-too-large; then
  head -c 16777217 /dev/zero | tr '\0' 'a' > "$WORK/request"
  envelope NATIVE_TRANSPORT_LIMIT transport > "$WORK/expected"
  "$NATIVE" < "$WORK/request" > "$WORK/out" 2> "$WORK/err"
  check host-too-large "$WORK/expected" 0 $?
  # Too large is decided before the encoding check.
  { head -c 16777216 /dev/zero | tr '\0' 'a'; printf '\377'; } > "$WORK/request"
  "$NATIVE" < "$WORK/request" > "$WORK/out" 2> "$WORK/err"
  check host-too-large-invalid-last-byte "$WORK/expected" 0 $?
fi
if selected host-largest-accepted; then
  # Exactly 16 MiB of valid UTF-8 passes the host; the entry refuses it as
  # not JSON.
  head -c 16777216 /dev/zero | tr '\0' 'a' > "$WORK/request"
  envelope NATIVE_REQUEST request > "$WORK/expected"
  "$NATIVE" < "$WORK/request" > "$WORK/out" 2> "$WORK/err"
  check host-largest-accepted "$WORK/expected" 0 $?
fi
if selected host-broken-pipe; then
  # The reader is gone before the host writes: exit status 1, no signal.
  : > "$WORK/out"
  ( sleep 0.3; exec "$NATIVE" < /dev/null 2> "$WORK/err" ) | true
  status=${PIPESTATUS[0]}
  : > "$WORK/expected"
  check host-broken-pipe "$WORK/expected" 1 "$status"
fi

if selected host-output-full; then
  # The write or flush fails: exit status 1.
  "$NATIVE" < /dev/null > /dev/full 2> "$WORK/err"
  status=$?
  : > "$WORK/out"
  : > "$WORK/expected"
  check host-output-full "$WORK/expected" 1 "$status"
fi
if selected host-read-error; then
  # Standard input cannot be read (a folder): the host's own envelope.
  envelope NATIVE_HOST_FAILURE host > "$WORK/expected"
  "$NATIVE" < "$ROOT/tests" > "$WORK/out" 2> "$WORK/err"
  check host-read-error "$WORK/expected" 0 $?
fi

echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
