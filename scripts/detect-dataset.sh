#!/usr/bin/env bash
# Runs stdetect on every video under IN_DIR with GNU parallel, one single-threaded
# job per video, and writes each features file at the same relative place under
# OUT_DIR. Videos whose output already exists are skipped, so running the same
# command again does only what is missing or failed.
#
# Exit status: 0 every video done, 1 some video failed, 2 bad arguments,
# 130 interrupted.
set -euo pipefail

usage="usage: detect-dataset.sh [-j N] [--sshloginfile FILE [--shared]] IN_DIR OUT_DIR [-- stdetect options]"
me=detect-dataset

bad() {
  echo "$me: $1 ($usage)" >&2
  exit 2
}

# ---- arguments --------------------------------------------------------------
jobs=""
sshloginfile=""
shared=0
positional=()
user_options=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    -h | --help)
      echo "$usage"
      exit 0
      ;;
    -j | --jobs)
      [[ $# -ge 2 ]] || bad "$1 needs a number"
      jobs=$2
      shift 2
      ;;
    --sshloginfile)
      [[ $# -ge 2 ]] || bad "$1 needs a file"
      sshloginfile=$2
      shift 2
      ;;
    --shared)
      shared=1
      shift
      ;;
    --)
      shift
      user_options=("$@")
      break
      ;;
    -?*) bad "unknown option $1" ;;
    *)
      positional+=("$1")
      shift
      ;;
  esac
done

[[ ${#positional[@]} -eq 2 ]] || bad "need IN_DIR and OUT_DIR"
in_dir=${positional[0]}
out_dir=${positional[1]}
if [[ -n "$jobs" ]] && ! [[ "$jobs" =~ ^[0-9]+$ && "$jobs" -gt 0 ]]; then
  bad "-j needs a positive number of jobs, not '$jobs'"
fi
[[ -d "$in_dir" ]] || bad "no folder $in_dir"
if [[ -n "$sshloginfile" && ! -r "$sshloginfile" ]]; then
  bad "cannot read the ssh login file $sshloginfile"
fi
[[ $shared -eq 0 || -n "$sshloginfile" ]] || bad "--shared goes with --sshloginfile"
for option in "${user_options[@]}"; do
  case "$option" in
    -v | -o) bad "$option is set for each video; give only the other stdetect options" ;;
  esac
done
command -v parallel >/dev/null 2>&1 || bad "GNU parallel is missing (scripts/install-deps.sh installs it)"
mkdir -p -- "$out_dir" 2>/dev/null || bad "cannot make the folder $out_dir"
in_dir=$(cd -- "$in_dir" && pwd)
out_dir=$(cd -- "$out_dir" && pwd)

# ---- which stdetect ---------------------------------------------------------
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ -n "${STDETECT:-}" ]]; then
  stdetect=$STDETECT
  origin="from STDETECT"
elif stdetect=$(command -v stdetect 2>/dev/null); then
  origin="on PATH"
else
  stdetect=$root/build/detector/stdetect
  origin="the project's build"
fi
[[ -x "$stdetect" && ! -d "$stdetect" ]] || bad "no stdetect at $stdetect ($origin); build it with scripts/build.sh or set STDETECT"
[[ "$stdetect" == /* ]] || stdetect=$(cd "$(dirname "$stdetect")" && pwd)/$(basename "$stdetect")
echo "$me: stdetect $stdetect ($origin)" >&2

scratch=$(mktemp -d)
trap 'rm -rf -- "$scratch"' EXIT
trap 'echo "$me: interrupted" >&2; exit 130' INT TERM

# Every stdetect option is checked before any video is read (status 2), so one
# run on a missing video tells a bad option from a usable one.
probe_status=0
"$stdetect" --quiet --threads 1 "${user_options[@]}" -v "$scratch/none.avi" \
  -o "$scratch/none.txt" 2>"$scratch/probe.err" || probe_status=$?
if [[ $probe_status -eq 2 ]]; then
  echo "$me: $(tail -n 1 "$scratch/probe.err")" >&2
  exit 2
fi

# ---- videos and their outputs ----------------------------------------------
videos=()
while IFS= read -r -d '' video; do
  videos+=("${video#./}")
done < <(cd -- "$in_dir" && find . \( -type f -o -xtype f \) \( -iname '*.avi' \
  -o -iname '*.mp4' -o -iname '*.m4v' -o -iname '*.mov' -o -iname '*.mkv' \
  -o -iname '*.webm' -o -iname '*.mpg' -o -iname '*.mpeg' -o -iname '*.m2v' \
  -o -iname '*.ts' -o -iname '*.mts' -o -iname '*.m2ts' -o -iname '*.wmv' \
  -o -iname '*.asf' -o -iname '*.flv' -o -iname '*.ogv' -o -iname '*.3gp' \
  -o -iname '*.3g2' -o -iname '*.vob' -o -iname '*.mxf' -o -iname '*.y4m' \
  -o -iname '*.divx' -o -iname '*.dv' \) -print0 | LC_ALL=C sort -z)

# Videos of one folder that share a name but not an extension keep the
# extension in their output's name, so no two videos write the same file.
declare -A stems=()
for video in "${videos[@]}"; do
  stems["${video%.*}"]=$((${stems["${video%.*}"]:-0} + 1))
done
todo_videos=()
todo_outputs=()
skipped=0
for video in "${videos[@]}"; do
  if [[ ${stems["${video%.*}"]} -gt 1 ]]; then output=$video.txt; else output=${video%.*}.txt; fi
  if [[ -f "$out_dir/$output" ]]; then
    skipped=$((skipped + 1))
  else
    todo_videos+=("$video")
    todo_outputs+=("$output")
  fi
done
echo "$me: ${#videos[@]} videos under $in_dir, $skipped already done, ${#todo_videos[@]} to do" >&2

# ---- memory per job ---------------------------------------------------------
# The detector holds about 4,400 bytes per pixel of frame with its ten default
# scale pairs, in proportion to the number of pairs. A job starts only when
# twice that is free: parallel kills the youngest job when free memory drops
# below half of --memfree, and a job's own allocation must never cause that.
pairs=10
for ((i = 0; i < ${#user_options[@]}; i++)); do
  if [[ "${user_options[$i]}" == --scales && $((i + 1)) -lt ${#user_options[@]} ]]; then
    scales=${user_options[$((i + 1))]}
    spatial=${scales%%:*}
    temporal=${scales#*:}
    commas_s=${spatial//[^,]/}
    commas_t=${temporal//[^,]/}
    pairs=$(((${#commas_s} + 1) * (${#commas_t} + 1)))
  fi
done
pixels=0
count=${#todo_videos[@]}
for ((k = 0; k < 5 && k < count; k++)); do
  video=${todo_videos[$((k * count / (count < 5 ? count : 5)))]}
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height \
    -of csv=p=0:s=x -- "$in_dir/$video" 2>/dev/null | head -n 1 || true)
  if [[ "$size" =~ ^([0-9]+)x([0-9]+)$ ]] && ((BASH_REMATCH[1] * BASH_REMATCH[2] > pixels)); then
    pixels=$((BASH_REMATCH[1] * BASH_REMATCH[2]))
  fi
done
[[ $pixels -gt 0 ]] || pixels=$((640 * 480))
memfree_mb=$((2 * (pixels * 440 * pairs / 1000000 + 64)))
total_mb=$(awk '/^MemTotal:/ { print int($2 / 1024) }' /proc/meminfo 2>/dev/null || echo 0)
if [[ $total_mb -gt 0 && $memfree_mb -gt $((total_mb / 2)) ]]; then
  memfree_mb=$((total_mb / 2))
fi

# ---- the run ------------------------------------------------------------------
joblog=$out_dir/detect-dataset.joblog
done_count=0
not_started=0
failed=()
interrupted=0
if [[ $count -gt 0 ]]; then
  echo "$me: --memfree ${memfree_mb}M per job start (largest sampled frame $pixels pixels, $pairs scale pairs)" >&2
  : >"$scratch/videos"
  : >"$scratch/outputs"
  for ((k = 0; k < count; k++)); do
    mkdir -p -- "$(dirname -- "$out_dir/${todo_outputs[$k]}")"
    printf '%s\0' "$in_dir/./${todo_videos[$k]}" >>"$scratch/videos"
    printf '%s\0' "$out_dir/./${todo_outputs[$k]}" >>"$scratch/outputs"
  done
  options=(--null --quote --memfree "${memfree_mb}M" --joblog "+$joblog"
    --results "$scratch/results/{#}")
  [[ -n "$jobs" ]] && options+=(--jobs "$jobs")
  [[ -t 2 ]] && options+=(--bar)
  if [[ -n "$sshloginfile" ]]; then
    options+=(--sshloginfile "$sshloginfile")
    [[ $shared -eq 1 ]] || options+=(--workdir ... --transferfile '{1}' --return '{2}' --cleanup)
  fi
  log_lines=0
  [[ -f "$joblog" ]] && log_lines=$(wc -l <"$joblog")
  # Each job runs on this machine with the full paths, or on another machine
  # that received the video under its path below /./ in the work folder.
  # shellcheck disable=SC2016
  job='s=$1 v=$2 o=$3; shift 3
if [ ! -e "$v" ]; then v=./${v#*/./} o=./${o#*/./}; fi
mkdir -p "$(dirname "$o")" && exec "$s" --quiet --threads 1 -v "$v" -o "$o" "$@"'
  trap 'interrupted=1' INT TERM
  parallel "${options[@]}" sh -c "$job" sh "$stdetect" '{1}' '{2}' "${user_options[@]}" \
    :::: "$scratch/videos" ::::+ "$scratch/outputs" || true
  trap 'echo "$me: interrupted" >&2; exit 130' INT TERM

  made=()
  for ((k = 0; k < count; k++)); do
    if [[ -f "$out_dir/${todo_outputs[$k]}" ]]; then
      made+=("$out_dir/${todo_outputs[$k]}")
      continue
    fi
    seq=$((k + 1))
    # No result files: parallel never started the job (interrupted, or parallel failed).
    if [[ ! -f "$scratch/results/$seq.seq" ]]; then
      not_started=$((not_started + 1))
      continue
    fi
    reason=""
    [[ -f "$scratch/results/$seq.err" ]] &&
      reason=$(grep -v '^[[:space:]]*$' "$scratch/results/$seq.err" | tail -n 1 || true)
    if [[ -z "$reason" && -f "$joblog" ]]; then
      reason=$(tail -n +"$((log_lines + 1))" "$joblog" | awk -F'\t' -v seq="$seq" \
        '$1 == seq { r = $8 > 0 ? "killed by signal " $8 : "exit status " $7 } END { print r }')
    fi
    reason=${reason//\/.\//\/}
    failed+=("${todo_videos[$k]}: ${reason:-stopped without an error line}")
  done
  done_count=${#made[@]}
  points=0
  if [[ $done_count -gt 0 ]]; then
    points=$(printf '%s\0' "${made[@]}" | xargs -0 cat -- | grep -vc '^#' || true)
  fi
else
  points=0
fi

# ---- summary ----------------------------------------------------------------
summary="$done_count done, ${#failed[@]} failed, $skipped skipped as already done"
[[ $not_started -eq 0 ]] || summary+=", $not_started not started"
echo "$me: $summary, $points points written to $out_dir" >&2
for failure in "${failed[@]}"; do
  echo "$me: failed: $failure" >&2
done
if [[ $interrupted -eq 1 ]]; then
  echo "$me: interrupted; the same command goes on where this run stopped" >&2
  exit 130
fi
[[ ${#failed[@]} -eq 0 && $not_started -eq 0 ]] || exit 1
exit 0
