#!/usr/bin/env bash
# detect-dataset.sh --slurm against a real single-node Slurm started here (munged,
# slurmctld, slurmd from Debian's packages, all under a temporary folder): the
# parallel test's clips plus a truncated one give the parallel engine's outputs,
# reruns touch nothing and redo what is missing, a waiting run joins an array
# already at work, a cancelled task and Ctrl-C leave no partial output, and bad
# input submits nothing. Every job is cancelled and every daemon stopped at exit.
# Usage: detect_dataset_slurm_test.sh path/to/detect-dataset.sh (STDETECT names
# stdetect). Status 77 (a skip) for a user who is not root, outside CI.
set -euo pipefail
script=$1
: "${STDETECT:?STDETECT must name the stdetect to test}"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cannot_start() {
  [[ -n "${CI:-}" || $(id -u) -eq 0 ]] && fail "cannot start Slurm: $*"
  echo "SKIP: cannot start Slurm: $* (needs root; runs in CI)" >&2
  exit 77
}
work=$(mktemp -d)
# shellcheck source=../../scripts/slurm-single-node.sh
source "$(dirname "$script")/slurm-single-node.sh"
background=()  # runs of the script in the background, stopped first at exit
clean_up() {
  set +e
  for pid in "${background[@]}"; do kill -KILL -- "-$pid" "$pid" 2>/dev/null; done
  slurm_stop
  rm -rf -- "$work"
}
trap clean_up EXIT
slurm_start 2>"$work/start.err" || cannot_start "$(cat "$work/start.err")"

# ---- clips -----------------------------------------------------------------
in=$work/in
mkdir -p "$in/a" "$in/b c"
clip() {  # source, file, frames, size
  ffmpeg -loglevel error -f lavfi -i "$1=size=${4:-48x36}:rate=12" -frames:v "${3:-12}" -c:v mpeg4 -q:v 2 "$2"
}
clip testsrc "$in/a/clip1.avi"
clip testsrc2 "$in/a/clip1.MP4"
clip mandelbrot "$in/b c/clip 2.mkv"
clip testsrc "$in/b c/clip3.mov"
echo "not a video" >"$in/a/broken.avi"
clip testsrc2 "$work/whole.avi" 48
head -c 9000 "$work/whole.avi" >"$in/a/cut.avi"
outputs=("a/clip1.avi.txt" "a/clip1.MP4.txt" "b c/clip 2.txt" "b c/clip3.txt" "a/cut.txt")
out="$work/out put"
logs=$out/detect-dataset.slurm

run() {  # expected status, text the summary must hold, arguments
  local expected=$1 text=$2 status=0
  shift 2
  "$script" "$@" 2>"$work/err" >"$work/stdout" || status=$?
  [[ $status -eq $expected ]] || fail "$*: status $status, not $expected: $(cat "$work/err")"
  grep -qF -- "$text" "$work/err" || fail "$*: no '$text' in: $(cat "$work/err")"
}
stamps() {
  for output in "${outputs[@]}"; do stat -c '%n %i %y' "$out/$output"; done
}
slurm=(--slurm "$in" "$out" -- --scales 4:2)

# Both engines: the same outputs below the header, the broken file reported with
# stdetect's line, the truncated clip warned about.
run 1 "5 done, 1 failed, 0 skipped" -j 2 "$in" "$work/parallel" -- --scales 4:2
grep -q "warning: a/cut.avi: ended after .* of the 48 frames" "$work/err" || fail "parallel: no warning: $(cat "$work/err")"
run 1 "5 done, 1 failed, 0 skipped" "${slurm[@]}"
grep -q "failed: a/broken.avi: .*broken.avi" "$work/err" || fail "broken.avi not reported: $(cat "$work/err")"
grep -q "warning: a/cut.avi: ended after .* of the 48 frames" "$work/err" || fail "slurm: no warning: $(cat "$work/err")"
for output in "${outputs[@]}"; do
  cmp <(grep -v '^#' "$work/parallel/$output") <(grep -v '^#' "$out/$output") || fail "$output differs"
done
points=$(cat "$out/a/"*.txt "$out/b c/"*.txt | grep -vc '^#')
grep -qF "$points points written" "$work/err" || fail "not $points points: $(cat "$work/err")"

# A rerun submits only the broken file and keeps the first run's log; a deleted
# output is made again.
stamps >"$work/before"
first_log=$(ls "$logs"/*.log)
sum=$(cksum <"$first_log")
run 1 "0 done, 1 failed, 5 skipped" "${slurm[@]}"
diff "$work/before" <(stamps) || fail "the rerun touched a finished output"
[[ $(cksum <"$first_log") == "$sum" && $(ls "$logs"/*.log | wc -l) -eq 2 ]] || fail "logs: $(ls "$logs")"
[[ $(tr '\0' '\n' <"$(ls "$logs"/*.list | sort -V | tail -n 1)") == $'1\na/broken.avi\na/broken.txt' ]] ||
  fail "the rerun's list is not the broken file alone"
rm "$out/b c/clip 2.txt"
run 1 "1 done, 1 failed, 4 skipped" "${slurm[@]}"
diff "$work/before" <(stamps) >/dev/null && fail "the deleted output is missing or unchanged"
diff <(grep -v 'clip 2' "$work/before") <(stamps | grep -v 'clip 2') || fail "another output was touched"

# --no-wait names the array; the same command then waits for it rather than
# submitting again (the array depends on a held job meanwhile, so it is surely
# still queued).
rm "$out/a/clip1.avi.txt" "$out/b c/clip3.txt"
blocker=$(sbatch --parsable --hold --mem=10M --output=/dev/null --wrap true)
run 0 "to do" --no-wait --per-task 1 --sbatch --dependency=afterany:"$blocker" "${slurm[@]}"
job=$(cat "$work/stdout")
[[ "$job" =~ ^[0-9]+$ ]] || fail "--no-wait printed '$job'"
"$script" "${slurm[@]}" >/dev/null 2>"$work/err" &
background+=($!)
for _ in $(seq 100); do grep -q "waiting for it" "$work/err" && break; sleep 0.2; done
scancel "$blocker"
status=0
wait "${background[-1]}" || status=$?
[[ $status -eq 1 ]] && grep -qF "2 done, 1 failed, 3 skipped" "$work/err" || fail "join: $status $(cat "$work/err")"
[[ $(ls "$logs"/*.list | wc -l) -eq 4 ]] || fail "the waiting run submitted: $(ls "$logs")"

# A task cancelled while it detects (as at a time limit) and Ctrl-C: no partial
# output, the video reported, the task's other video not started, the array gone.
clip testsrc2 "$in/0 slow.avi" 100 640x480
slow_run() {  # waits until the slow clip is at work, then does "$@" with the run's pid
  rm -rf -- "$work/out2"
  set -m
  "$script" --slurm --per-task 2 "$in" "$work/out2" -- --scales 4:2 >/dev/null 2>"$work/err" &
  local pid=$!
  background+=("$pid")
  set +m
  for _ in $(seq 100); do grep -qs "0 slow" "$work/out2/detect-dataset.slurm/"*_0.log && break; sleep 0.2; done
  sleep 0.5
  "$@" "$pid"
  status=0
  wait "$pid" || status=$?
  [[ -z "$(find "$work/out2" -path '*0 slow*')" ]] || fail "a partial output: $(find "$work/out2")"
}
cancel_task() { scancel "$(squeue --noheader --format=%F | head -n 1)_0"; }
slow_run cancel_task
[[ $status -eq 1 ]] && grep -q "failed: 0 slow.avi: stopped by Slurm" "$work/err" &&
  grep -q "1 not started" "$work/err" && grep -q "_0 left 1 videos: .*CANCELLED" "$work/err" ||
  fail "cancelled task: $status $(cat "$work/err")"
interrupt() { kill -INT -- "-$1"; }
slow_run interrupt
[[ $status -eq 130 && -z "$(squeue --noheader)" ]] && grep -q "array job .* cancelled" "$work/err" ||
  fail "Ctrl-C: $status $(cat "$work/err")"

# Bad input: one line, nothing submitted.
bad() {  # status, text, arguments
  local expected=$1 text=$2 status=0
  shift 2
  "$script" "$@" "$in" "$work/out3" 2>"$work/err" || status=$?
  [[ $status -eq $expected && $(grep -c "$text" "$work/err") -eq 1 && -z "$(squeue --noheader)" ]] ||
    fail "$*: status $status, $(cat "$work/err")"
}
mkdir "$work/bin"
ln -s /usr/bin/* "$work/bin/"
rm "$work/bin/sbatch"
PATH=$work/bin bad 2 "no sbatch on PATH" --slurm
bad 2 "per-task needs a positive" --slurm --per-task 0
bad 2 "two engines" --slurm --sshloginfile "$SLURM_CONF"
bad 1 "refused the array: .*Invalid partition" --slurm --sbatch --partition=nowhere
bad 1 "refused the array: .*not available" --slurm --sbatch --mem=100000000
echo "detect-dataset --slurm: all checks passed"
