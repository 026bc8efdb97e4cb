#!/usr/bin/env bash
# The shared 32-bit check of the scripts, against stand-in probe programs: only
# a refusal to execute (exit 126, "Exec format error") means "cannot run".
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib/run32.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

probe() { # name, body of the stand-in
  printf '#!/bin/sh\n%s\n' "$2" >"$dir/$1"
  chmod +x "$dir/$1"
}
probe runs 'echo "usage: wineserver [options]"; exit 0'
probe usage-error 'exit 1'
probe refused 'echo "cannot execute binary file: Exec format error" >&2; exit 126'
probe refused-silently 'exit 126'
# A real i386 ELF header with nothing behind it: the kernel refuses it on any machine.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000' >"$dir/truncated-elf"
chmod +x "$dir/truncated-elf"

failures=0
expect() { # probe, expected status, expected reason (empty or a fragment)
  local status=0
  FENDRIX_RUN32_PROBE="$dir/$1" run32_check || status=$?
  if [ "$status" != "$2" ] || { [ -n "$3" ] && [[ "$run32_reason" != *"$3"* ]]; } ||
     { [ -z "$3" ] && [ -n "$run32_reason" ]; }; then
    echo "FAIL $1: status $status (expected $2), reason '$run32_reason'"
    failures=$((failures + 1))
  else
    echo "ok   $1"
  fi
}
expect runs 0 ""
expect usage-error 0 ""
expect missing 0 ""
expect refused 1 "Exec format error"
expect refused-silently 1 "refuses 32-bit programs"
expect truncated-elf 1 "refuses 32-bit programs"
[ -n "$run32_remedy" ] && [[ "$run32_remedy" == *"ia32_emulation=on"* ]] ||
  { echo "FAIL remedy names ia32_emulation=on"; failures=$((failures + 1)); }
exit $((failures > 0))
