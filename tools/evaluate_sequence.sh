#!/usr/bin/env bash
# Runs the program on a data sequence and scores its masks.
#
#   tools/evaluate_sequence.sh SEQ_DIR [switches...]
#   e.g. tools/evaluate_sequence.sh ../shared/data/highway -end 1700
#
# The frames are prepared in a scratch directory (SCRATCH_DIR, default
# ${TMPDIR:-/tmp}/strellix-eval/<sequence>), the program runs there on every
# present frame (switches given here win over that range), and the masks
# of the scored frames (temporalROI.txt, within the processed range) are
# evaluated against groundtruth/ with ROI.bmp when the sequence has one.
# BUILD_DIR (default: build) is where the program and the tools are built.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 SEQ_DIR [switches...]" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd -P)"
seq_dir="$(cd "$1" && pwd -P)" || { echo "evaluate_sequence: no directory $1" >&2; exit 1; }
shift
name="$(basename "$seq_dir")"
scratch="$(realpath -m "${SCRATCH_DIR:-${TMPDIR:-/tmp}/strellix-eval/$name}")"

# The program reads a number as strtol does with base 0 (so 010 is 8);
# bash arithmetic agrees, once the text is known to be a plain number.
as_number() {
  if [[ "$1" =~ ^[[:space:]]*[+-]?([0-9]+|0[xX][0-9a-fA-F]+)$ ]]; then
    echo $(( $1 ))
  else
    echo "evaluate_sequence: $2 needs a number, not \"$1\"" >&2
    exit 2
  fi
}
# The first occurrence of a switch is the one the program uses.
ini=""
end=""
seen_ini=0 seen_end=0
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    -ini) if [ $seen_ini -eq 0 ] && [ $((i + 1)) -lt ${#args[@]} ]; then
            ini="$(as_number "${args[i + 1]}" -ini)"; seen_ini=1; fi ;;
    -end) if [ $seen_end -eq 0 ] && [ $((i + 1)) -lt ${#args[@]} ]; then
            end="$(as_number "${args[i + 1]}" -end)"; seen_end=1; fi ;;
  esac
done

build="${BUILD_DIR:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target Strellixplus strellix_cli convert_frames >/dev/null

prepared="$(BUILD_DIR="$build" "$root/tools/prepare_sequence.sh" "$seq_dir" "$scratch/frames" in)"
read -r _ first_present last_present _ <<<"$(grep '^frames ' <<<"$prepared")"
[ -n "$ini" ] || ini="$first_present"
[ -n "$end" ] || end="$last_present"

run_dir="$scratch/run"
mkdir -p "$run_dir"
rm -f "$run_dir"/bin*.png "$run_dir"/*BGrepresentation.*.ppm
log="$run_dir/strellix.log"
echo "running $name, frames $ini-$end (log: $log)"
start_seconds=$SECONDS
# Detached from any terminal, so the final key wait returns at once; the
# sequence name is relative to keep it short.
set +e
(cd "$run_dir" && exec setsid "$build/Strellixplus" ../frames/in "$@" \
   -ini "$first_present" -end "$last_present" </dev/null >"$log" 2>&1) &
child=$!
trap 'kill "$child" 2>/dev/null' INT TERM
wait "$child"
status=$?
trap - INT TERM
set -e
echo "run took $((SECONDS - start_seconds)) s, exit code $status"
if [ $status -ne 0 ]; then
  tail -n 5 "$log" >&2
  exit 1
fi

score_first="$ini"
score_last="$end"
if [ -f "$seq_dir/temporalROI.txt" ]; then
  # The benchmark's files end without a line feed.
  read -r roi_first roi_last _ < <(tr -d '\r' <"$seq_dir/temporalROI.txt") || true
  roi_first="$(as_number "$roi_first" temporalROI.txt)"
  roi_last="$(as_number "$roi_last" temporalROI.txt)"
  [ "$roi_first" -gt "$score_first" ] && score_first="$roi_first"
  [ "$roi_last" -lt "$score_last" ] && score_last="$roi_last"
fi
if [ "$score_first" -gt "$score_last" ]; then
  echo "evaluate_sequence: no scored frame within $ini-$end" >&2
  exit 1
fi
roi=()
[ -f "$seq_dir/ROI.bmp" ] && roi=(--roi "$seq_dir/ROI.bmp")
"$build/strellix" evaluate "$run_dir" "$seq_dir/groundtruth" --mask-pattern 'bin%06d.png' \
  --first "$score_first" --last "$score_last" "${roi[@]}"
