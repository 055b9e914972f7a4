#!/usr/bin/env bash
# Runs differential_host of the Linux build and of the Windows build (under
# $KDRVX_EMULATOR, Wine) with the same seeds, in a fresh directory each, and
# compares their transcripts byte for byte. On a difference it prints the
# seed, the call number and both lines, and fails.
#   compare.sh LINUX_HOST WINDOWS_HOST WORK_DIR CALLS SEED...
set -uo pipefail
linux=$(realpath -m "$1") windows=$(realpath -m "$2") work=$(realpath -m "$3") calls=$4
shift 4
if [[ ! -x $linux ]]; then
  echo "no Linux differential_host at $linux: build the ci preset first" >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work/linux" "$work/windows" || exit 1
(cd "$work/linux" && "$linux" "$calls" "$@") || { echo "the Linux host failed"; exit 1; }
(cd "$work/windows" && ${KDRVX_EMULATOR:-} "$windows" "$calls" "$@") ||
  { echo "the Windows host failed"; exit 1; }
differences=0
for seed in "$@"; do
  linux_text=$work/linux/$seed.txt windows_text=$work/windows/$seed.txt
  cmp -s "$linux_text" "$windows_text" && continue
  differences=$((differences + 1))
  line=$(cmp "$linux_text" "$windows_text" 2>&1 | sed -n 's/.* line \([0-9]*\).*/\1/p')
  [[ -n $line ]] || line=$(($(wc -l <"$linux_text") + 1))
  linux_line=$(sed -n "${line}p" "$linux_text")
  windows_line=$(sed -n "${line}p" "$windows_text")
  echo "seed $seed differs at call ${linux_line%% *}${windows_line:+ / ${windows_line%% *}} (line $line):"
  echo "  linux:   $linux_line"
  echo "  windows: $windows_line"
done
echo "$# seeds of $calls calls compared, $differences with a difference"
((differences == 0))
