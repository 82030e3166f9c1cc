#!/usr/bin/env bash
# detect-dataset.sh on four tiny generated clips in two folders (one with a
# space, two sharing a name) plus a broken file: outputs match single stdetect
# runs, the broken file fails the run, later runs redo only what is missing, and
# stdetect --report (what the runner reads) tells each end as it was.
# Usage: detect_dataset_test.sh path/to/detect-dataset.sh (STDETECT names stdetect).
set -euo pipefail
script=$1
: "${STDETECT:?STDETECT must name the stdetect to test}"
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
in=$work/in
out="$work/out with space"
mkdir -p "$in/a" "$in/b c"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
clip() {  # source, file
  ffmpeg -loglevel error -f lavfi -i "$1=size=48x36:rate=12" -frames:v 12 -c:v mpeg4 -q:v 2 "$2"
}
clip testsrc "$in/a/clip1.avi"
clip testsrc2 "$in/a/clip1.MP4"
clip mandelbrot "$in/b c/clip 2.mkv"
clip testsrc "$in/b c/clip3.mov"
echo "not a video" >"$in/a/broken.avi"
echo "notes" >"$in/a/notes.txt"
videos=("a/clip1.avi" "a/clip1.MP4" "b c/clip 2.mkv" "b c/clip3.mov")
outputs=("a/clip1.avi.txt" "a/clip1.MP4.txt" "b c/clip 2.txt" "b c/clip3.txt")

run() {  # expected status; the rest must appear in the summary line
  local expected=$1 status=0
  shift
  "$script" -j 2 "$in" "$out" -- --scales 4:2 2>"$work/err" || status=$?
  [[ $status -eq $expected ]] || fail "status $status, not $expected: $(cat "$work/err")"
  grep -qF "$*" "$work/err" || fail "no '$*' in: $(cat "$work/err")"
}
stamps() {
  for output in "${outputs[@]}"; do stat -c '%n %i %y' "$out/$output"; done
}

# First run: four outputs equal single runs below the header; the broken one is reported.
run 1 "4 done, 1 failed, 0 skipped as already done"
grep -q "failed: a/broken.avi: .*broken.avi" "$work/err" || fail "broken.avi not reported: $(cat "$work/err")"
points=0
for k in "${!videos[@]}"; do
  "$STDETECT" --quiet --scales 4:2 -v "$in/${videos[$k]}" -o "$work/single.txt"
  cmp <(grep -v '^#' "$work/single.txt") <(grep -v '^#' "$out/${outputs[$k]}") ||
    fail "${outputs[$k]} differs from a single run"
  points=$((points + $(grep -vc '^#' "$work/single.txt" || true)))
done
[[ $points -gt 0 ]] || fail "the clips gave no points"
grep -qF "$points points written" "$work/err" || fail "not $points points: $(cat "$work/err")"
[[ $(find "$out" -type f | wc -l) -eq 5 ]] || fail "not four outputs and the job log: $(find "$out")"

# Second run: none of the four is touched, only the broken one is tried again.
stamps >"$work/before"
lines=$(wc -l <"$out/detect-dataset.joblog")
run 1 "0 done, 1 failed, 4 skipped as already done, 0 points"
diff "$work/before" <(stamps) || fail "the second run touched a finished output"
tail -n +"$((lines + 1))" "$out/detect-dataset.joblog" >"$work/new"
{ [[ $(wc -l <"$work/new") -eq 1 ]] && grep -q broken.avi "$work/new"; } ||
  fail "the second run's jobs: $(cat "$work/new")"

# Third run: a deleted output is made again, the others stay.
rm "$out/b c/clip 2.txt"
run 1 "1 done, 1 failed, 3 skipped as already done"
[[ -f "$out/b c/clip 2.txt" ]] || fail "the deleted output was not made again"
diff <(grep -v 'clip 2' "$work/before") <(stamps | grep -v 'clip 2') || fail "the third run touched another output"

# stdetect's reports, which the runner reads: a good clip, the broken file, bad options.
report() {  # expected status, then stdetect's arguments; prints the report's fields
  local expected=$1 status=0
  shift
  rm -f "$work/report.json"
  "$STDETECT" --quiet --report "$work/report.json" "$@" 2>/dev/null || status=$?
  [[ $status -eq $expected ]] || fail "stdetect $*: status $status, not $expected"
  /usr/bin/python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))
print(r["status"], r["exit_status"], r["points"], r["frames_read"], r["frames_announced"], r["error"] != "",
      r["seconds"] >= 0)' "$work/report.json"
}
single=$(grep -vc '^#' "$out/a/clip1.avi.txt" || true)
[[ $(report 0 --scales 4:2 -v "$in/a/clip1.avi" -o "$work/r.txt") == "done 0 $single 12 12 False True" ]] ||
  fail "the report of a good clip: $(cat "$work/report.json")"
[[ $(report 1 -v "$in/a/broken.avi" -o "$work/r.txt") == "failed 1 0 0 0 True True" ]] ||
  fail "the report of the broken file: $(cat "$work/report.json")"
[[ $(report 2 --k x -v "$in/a/clip1.avi") == "bad-options 2 0 0 0 True True" ]] ||
  fail "the report of bad options: $(cat "$work/report.json")"
[[ -z "$(find "$work" -maxdepth 1 -name 'report.json.*')" ]] || fail "a report's temporary file is left"

# Bad arguments: status 2 and one line each.
bad() {
  local status=0
  "$script" "$@" 2>"$work/err" || status=$?
  [[ $status -eq 2 && $(wc -l <"$work/err") -eq 1 ]] || fail "'$*': status $status, $(cat "$work/err")"
}
bad -j 0 "$in" "$out"
bad "$work/none" "$out"
bad --frob "$in" "$out"
echo "detect-dataset: all checks passed"
