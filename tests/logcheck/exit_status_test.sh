#!/usr/bin/env bash
# The exit statuses a CI job relies on, from the real checker: 0 clean, 1 errors
# (or warnings under --werror), 2 usage or an unreadable log; the highest wins.
#   exit_status_test.sh LOGCHECK LOGS_DIR
set -uo pipefail
logcheck=$1; logs=$2
failed=0
warnings=$(mktemp); trap 'rm -f "$warnings"' EXIT
printf 'file:C:\\a\\b.txt\nfile:C:\\a\\b.txt\n' >"$warnings"

expect() { # STATUS ARGS...
  local want=$1; shift
  "$logcheck" "$@" >/dev/null 2>&1 </dev/null
  local got=$?
  [ "$got" = "$want" ] || { echo "FAIL: logcheck $* exited $got, expected $want"; failed=1; }
}
expect 0 "$logs/clean.log"
expect 0 "$logs/empty.log"
expect 0 "$warnings"
expect 1 --werror "$warnings"
expect 1 "$logs/mistakes.log"
expect 1 "$logs/clean.log" "$logs/mistakes.log"
expect 2 "$logs/mistakes.log" "$logs/no-such.log"
expect 2 --no-such-option "$logs/clean.log"
expect 2
expect 0 --help
expect 0 --code-page 932 "$logs/shift-jis.log"
expect 1 "$logs/shift-jis.log"
expect 2 --code-page 65001 "$logs/clean.log"
expect 2 --code-page 932x "$logs/clean.log"
expect 2 --code-page 932 --system "$logs/clean.log"

# Standard input, and the reason of a log that cannot be opened.
out=$("$logcheck" - <"$logs/mistakes.log" 2>&1)
grep -q '^<stdin>:2:1: error: .*\[leading-blank\]$' <<<"$out" || { echo "FAIL: stdin: $out"; failed=1; }
out=$("$logcheck" "$logs/no-such.log" 2>&1)
grep -q "no-such.log: No such file or directory" <<<"$out" || { echo "FAIL: reason: $out"; failed=1; }
out=$("$logcheck" "$logs/empty.log")
grep -q "empty log" <<<"$out" || { echo "FAIL: empty: $out"; failed=1; }
exit $failed
