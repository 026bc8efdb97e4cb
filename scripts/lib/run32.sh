# Sourced by the scripts: can this machine run 32-bit programs?
#
# Wine runs the testbed and every Windows test in 32-bit processes. Some Linux
# kernels refuse every 32-bit program (booted with ia32_emulation=off, built
# without it, some virtual machines): Wine then dies with "Exec format error".
# Rather than guess from kernel versions, this runs Wine's own 32-bit server
# with a harmless argument and looks at what happened.

# Sets run32_reason and returns 1 when the kernel refuses 32-bit programs;
# returns 0 when it runs them (or when there is nothing to try, so that Wine
# itself fails loudly as before).
run32_check() {
  local server=${FENDRIX_RUN32_PROBE:-/usr/lib/wine/wineserver32}
  run32_reason=""
  if [ ! -e "$server" ]; then
    return 0
  fi
  local output status=0
  output=$("$server" --help 2>&1 </dev/null) || status=$?
  # 126: the kernel would not execute the file ("Exec format error").
  if [ "$status" -eq 126 ] || grep -q 'Exec format error' <<<"$output"; then
    run32_reason="this machine's Linux kernel refuses 32-bit programs ($server: Exec format error), so Wine cannot start"
    return 1
  fi
  return 0
}

# What to do about it, for the messages of the scripts.
run32_remedy="Boot the kernel with ia32_emulation=on, or use a kernel or machine with 32-bit support (dmesg | grep -i 32-bit tells)."
