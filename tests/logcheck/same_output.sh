#!/usr/bin/env bash
# logcheck.exe under Wine and the native logcheck print the same bytes on the
# same logs (LF line ends, the same findings and summaries), from files and from
# standard input, and the same --help.
#   tests/logcheck/same_output.sh [WINDOWS_BUILD [NATIVE_BUILD]]   (from the source root)
set -uo pipefail
cd "$(dirname "$0")/../.."
windows=${1:-build}; native=${2:-build-native}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; scripts/wine-session stop "$windows" >/dev/null 2>&1' EXIT
eval "$(scripts/wine-session env "$windows")"
wine=/usr/lib/wine/wine64
failed=0

# Wine's output goes to a file: its helper processes would hold a pipe open.
compare() { # NAME ARGS...
  local name=$1; shift
  "$native/logcheck" "$@" >"$scratch/native" 2>/dev/null </dev/null
  echo "exit $?" >>"$scratch/native"
  "$wine" "$windows/logcheck.exe" "$@" >"$scratch/windows" 2>/dev/null </dev/null
  echo "exit $?" >>"$scratch/windows"
  if cmp -s "$scratch/native" "$scratch/windows"; then
    echo "same: $name"
  else
    echo "DIFFERENT: $name"; diff "$scratch/native" "$scratch/windows" | head -20; failed=1
  fi
}
compare_stdin() { # LOG
  "$native/logcheck" - <"$1" >"$scratch/native" 2>/dev/null
  "$wine" "$windows/logcheck.exe" - <"$1" >"$scratch/windows" 2>/dev/null
  if cmp -s "$scratch/native" "$scratch/windows"; then echo "same: - <$1"; else
    echo "DIFFERENT: - <$1"; diff "$scratch/native" "$scratch/windows" | head -20; failed=1; fi
}

for log in tests/logcheck/logs/*.log; do
  compare "$log" "$log"
done
compare "all logs, --werror" --werror tests/logcheck/logs/*.log
compare "--uninstaller" --uninstaller 'C:\Vorblend\uninstall.exe' tests/logcheck/logs/clean.log
compare "--code-page 932" --code-page 932 tests/logcheck/logs/shift-jis.log
compare "--help" --help
compare "a log that cannot be opened" tests/logcheck/logs/no-such.log
compare_stdin tests/logcheck/logs/separators.log
exit $failed
