#!/usr/bin/env bash
# The bash completion of strellix, called as Tab calls it: subcommands, each
# subcommand's options (read from its own --help), and an option's value by
# its kind (directories, files, nothing for a number).
#
#   tests/package/test_completion.sh COMPLETION_FILE STRELLIX
set -uo pipefail
# shellcheck disable=SC1090  # the file under test
source "$1"
program="$(realpath "$(command -v "$2")")"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/strellix-completion.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/outdir"
touch "$scratch/outfile.mp4"
cd "$scratch" || exit 1

# What Tab offers for the words of $1 (split as bash splits them: "=" is a
# word of its own), the cursor on the last word, sorted on one line.
offers() {
  local COMP_WORDS COMP_CWORD COMPREPLY=()
  read -ra COMP_WORDS <<<"$1"
  if [[ $1 == *" " ]]; then COMP_WORDS+=(""); fi
  COMP_WORDS[0]="$program"
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _strellix
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

failed=0
expect() {
  local got
  got="$(offers "$1")"
  if [ "$got" != "$2" ]; then
    echo "completing '$1': offered '$got', expected '$2'" >&2
    failed=1
  fi
}

expect "strellix " "--help --version evaluate probe segment"
expect "strellix seg" "segment"
expect "strellix segment --med" "--median-frames"
expect "strellix segment --qu" "--quiet"
expect "strellix evaluate --r" "--roi"
expect "strellix segment -o " "outdir"
expect "strellix segment clip.mp4 --output =" "outdir"
expect "strellix segment --layers " ""
expect "strellix segment --no-masks out" "outdir outfile.mp4"
expect "strellix probe --background " "outdir outfile.mp4"
exit $failed
