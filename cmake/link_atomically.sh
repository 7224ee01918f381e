#!/usr/bin/env bash
# Link launcher for the programs the tests run: the link writes a
# temporary file beside the output, which is then renamed into place. A
# test that starts the program meanwhile finds the old one or the new one,
# never a file the linker is still writing (which exec refuses as busy, or
# runs half-written).
#
#   link_atomically.sh LINK COMMAND ... -o OUTPUT ...
set -u
args=()
out=""
while [ $# -gt 0 ]; do
  if [ "$1" = "-o" ] && [ $# -gt 1 ] && [ -z "$out" ]; then
    out="$2"
    args+=("-o" "$out.linking.$$")
    shift 2
    continue
  fi
  args+=("$1")
  shift
done
[ -n "$out" ] || exec "${args[@]}"
"${args[@]}" || {
  status=$?
  rm -f "$out.linking.$$"
  exit "$status"
}
exec mv -f "$out.linking.$$" "$out"
