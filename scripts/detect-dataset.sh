#!/usr/bin/env bash
# Runs stdetect on every video under IN_DIR and writes each features file at the
# same relative place under OUT_DIR, with one of two engines: GNU parallel (one
# single-threaded job per video, on this machine or over ssh), or with --slurm one
# Slurm job array whose tasks each take a share of the videos. Videos whose
# output already exists are skipped, so running the same command again does only
# what is missing or failed.
#
# Exit status: 0 every video done, 1 some video failed or Slurm refused the
# array, 2 bad arguments, 130 interrupted (a Slurm array is cancelled).
set -euo pipefail

usage="usage: detect-dataset.sh [-j N] [--sshloginfile FILE [--shared]] IN_DIR OUT_DIR [-- stdetect options]
       detect-dataset.sh --slurm [--per-task N] [--cpus-per-task N] [--sbatch OPTION]... [--no-wait]
                         IN_DIR OUT_DIR [-- stdetect options]"
me=detect-dataset

bad() {
  echo "$me: $1 (see detect-dataset.sh --help)" >&2
  exit 2
}

# ---- arguments --------------------------------------------------------------
jobs=""
sshloginfile=""
shared=0
slurm=0
per_task=""
cpus=""
no_wait=0
sbatch_options=()
positional=()
user_options=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    -h | --help)
      echo "$usage"
      exit 0
      ;;
    -j | --jobs | --sshloginfile | --per-task | --cpus-per-task | --sbatch)
      [[ $# -ge 2 ]] || bad "$1 needs a value"
      case "$1" in
        -j | --jobs) jobs=$2 ;;
        --sshloginfile) sshloginfile=$2 ;;
        --per-task) per_task=$2 ;;
        --cpus-per-task) cpus=$2 ;;
        --sbatch) sbatch_options+=("$2") ;;
      esac
      shift 2
      ;;
    --shared | --slurm | --no-wait)
      case "$1" in
        --shared) shared=1 ;;
        --slurm) slurm=1 ;;
        --no-wait) no_wait=1 ;;
      esac
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
positive() { [[ "$1" =~ ^[1-9][0-9]{0,8}$ ]]; }
if [[ -n "$jobs" ]] && ! positive "$jobs"; then
  bad "-j needs a positive number of jobs, not '$jobs'"
fi
[[ -d "$in_dir" ]] || bad "no folder $in_dir"
if [[ $slurm -eq 1 ]]; then
  [[ -z "$sshloginfile" ]] || bad "--slurm and --sshloginfile are two engines; choose one"
  [[ -z "$jobs" ]] || bad "-j goes with the parallel engine; with --slurm, --cpus-per-task sets a task's CPUs"
  [[ -z "$per_task" ]] || positive "$per_task" || bad "--per-task needs a positive number of videos, not '$per_task'"
  [[ -z "$cpus" ]] || positive "$cpus" || bad "--cpus-per-task needs a positive number, not '$cpus'"
  for option in "${sbatch_options[@]}"; do
    case "$option" in
      -a* | --array* | -J* | --job-name* | -o* | --output* | -e* | --error* | --open-mode* | \
        -H | --hold | --parsable | -W | --wait | --wrap* | -c* | --cpus-per-task*)
        bad "--sbatch $option: the script sets that itself" ;;
      -*) ;;
      *) bad "--sbatch takes one option word, such as --partition=cpu, not '$option'" ;;
    esac
  done
  for command in sbatch squeue scontrol scancel; do
    command -v "$command" >/dev/null 2>&1 || bad "no $command on PATH; --slurm needs Slurm's client commands"
  done
else
  [[ -z "$per_task$cpus" && ${#sbatch_options[@]} -eq 0 && $no_wait -eq 0 ]] ||
    bad "--per-task, --cpus-per-task, --sbatch and --no-wait go with --slurm"
  if [[ -n "$sshloginfile" && ! -r "$sshloginfile" ]]; then
    bad "cannot read the ssh login file $sshloginfile"
  fi
  [[ $shared -eq 0 || -n "$sshloginfile" ]] || bad "--shared goes with --sshloginfile"
  command -v parallel >/dev/null 2>&1 || bad "GNU parallel is missing (scripts/install-deps.sh installs it)"
fi
cpus=${cpus:-1}
detector=""
scales=""
descriptors=""
for ((i = 0; i < ${#user_options[@]}; i++)); do
  case "${user_options[$i]}" in
    -v | -o | --threads) bad "${user_options[$i]} is set for each video; give only the other stdetect options" ;;
    --detector) detector=${user_options[$((i + 1))]:-} ;;
    --scales) scales=${user_options[$((i + 1))]:-} ;;
    --descriptors) descriptors=${user_options[$((i + 1))]:-} ;;
  esac
done
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
all_outputs=()
for video in "${videos[@]}"; do
  if [[ ${stems["${video%.*}"]} -gt 1 ]]; then all_outputs+=("$video.txt"); else all_outputs+=("${video%.*}.txt"); fi
done

# ---- an array already at work on OUT_DIR -----------------------------------
# Its job name is made from OUT_DIR; the list of its videos is kept next to its
# logs. Rather than submit the same videos twice, this run waits for it (or,
# with --no-wait, names it) and reports on its videos.
slurm_dir=$out_dir/detect-dataset.slurm
job_name=detect-dataset-$(printf '%s' "$out_dir" | cksum | cut -d ' ' -f 1)
job=""
share_of_job=1
if [[ $slurm -eq 1 ]]; then
  queued=$(squeue --noheader --user="$(id -un)" --name="$job_name" --format=%F 2>"$scratch/squeue.err") || {
    echo "$me: cannot ask Slurm for arrays already at work: $(tail -n 1 "$scratch/squeue.err")" >&2
    exit 1
  }
  job=$(printf '%s\n' "$queued" | grep -m 1 -E '^[0-9]+$' || true)
  if [[ -n "$job" ]]; then
    if [[ $no_wait -eq 1 ]]; then
      echo "$me: array job $job is already at work on $out_dir; nothing submitted" >&2
      echo "$job"
      exit 0
    fi
    echo "$me: array job $job is already at work on $out_dir; waiting for it instead of submitting" >&2
  fi
fi

todo_videos=()
todo_outputs=()
skipped=0
if [[ -n "$job" ]]; then
  declare -A in_job=()
  while IFS= read -r -d '' video && IFS= read -r -d '' output; do
    todo_videos+=("$video")
    todo_outputs+=("$output")
    in_job["$output"]=1
  done < <(tail -z -n +2 -- "$slurm_dir/$job.list" 2>/dev/null)
  if [[ ${#todo_videos[@]} -eq 0 ]]; then
    echo "$me: array job $job has no list of videos in $slurm_dir; wait for it or cancel it" >&2
    exit 1
  fi
  share_of_job=$(head -z -n 1 -- "$slurm_dir/$job.list" | tr -d '\0')
  for output in "${all_outputs[@]}"; do
    [[ -f "$out_dir/$output" && -z "${in_job["$output"]:-}" ]] && skipped=$((skipped + 1))
  done
else
  for k in "${!videos[@]}"; do
    if [[ -f "$out_dir/${all_outputs[$k]}" ]]; then
      skipped=$((skipped + 1))
    else
      todo_videos+=("${videos[$k]}")
      todo_outputs+=("${all_outputs[$k]}")
    fi
  done
  echo "$me: ${#videos[@]} videos under $in_dir, $skipped already done, ${#todo_videos[@]} to do" >&2
fi
count=${#todo_videos[@]}

# ---- memory and length of a job ---------------------------------------------
# stdetect names the memory its frame size and scales need; the largest frame of
# up to five sampled videos counts. Their frames tell how long a video takes.
width=0
height=0
frames=0
sampled=0
for ((k = 0; k < 5 && k < count; k++)); do
  video=${todo_videos[$((k * count / (count < 5 ? count : 5)))]}
  read -r w h n < <(ffprobe -v error -select_streams v:0 \
    -show_entries stream=width,height,avg_frame_rate:format=duration -of default=nw=1 \
    -- "$in_dir/$video" 2>/dev/null | awk -F= '
      $1 == "width" { w = $2 } $1 == "height" { h = $2 } $1 == "duration" { d = $2 }
      $1 == "avg_frame_rate" { split($2, r, "/"); if (r[2] > 0) f = r[1] / r[2] }
      END { printf "%d %d %d\n", w, h, d * f }' || true)
  if [[ "${w:-0}" -gt 0 && "${h:-0}" -gt 0 ]]; then
    sampled=$((sampled + 1))
    frames=$((frames + n))
    if ((w * h > width * height)); then width=$w height=$h; fi
  fi
done
[[ $width -gt 0 ]] || { width=640 height=480; }
need_options=(--threads "$cpus")
[[ -z "$detector" ]] || need_options+=(--detector "$detector")
[[ -z "$scales" ]] || need_options+=(--scales "$scales")
[[ -z "$descriptors" ]] || need_options+=(--descriptors "$descriptors")
need_mb=0
if [[ $count -gt 0 && -z "$job" ]]; then
  need=$("$stdetect" --memory-need "${width}x$height" "${need_options[@]}" 2>"$scratch/need.err" || true)
  [[ "$need" =~ ^[0-9]+$ ]] || {
    echo "$me: stdetect cannot tell the memory a ${width}x$height frame needs: $(tail -n 1 "$scratch/need.err")" >&2
    exit 1
  }
  # Beside the detector's buffers, a process holds about 90 MB of libraries and
  # decoder state; a tenth more covers what the formula rounds away.
  need_mb=$((need * 11 / 10 / 1048576 + 128))
fi

# ---- results ------------------------------------------------------------------
done_count=0
points=0
not_started=0
failed=()
warnings=()
notes=()
interrupted=0
warn() {  # video, stdetect's warning line
  warnings+=("$1: ended after${2##*ended after}")
}

# ---- the run: GNU parallel ------------------------------------------------------
run_parallel() {
  # A job starts only when twice its memory is free: parallel kills the youngest
  # job when free memory drops below half of --memfree, and a job's own
  # allocation must never cause that.
  local memfree_mb=$((2 * need_mb))
  local total_mb
  total_mb=$(awk '/^MemTotal:/ { print int($2 / 1024) }' /proc/meminfo 2>/dev/null || echo 0)
  if [[ $total_mb -gt 0 && $memfree_mb -gt $((total_mb / 2)) ]]; then
    memfree_mb=$((total_mb / 2))
  fi
  # parallel then waits a second or more before each job start, which halves
  # the rate of short videos; when every job of this machine fits in what is
  # available twice over, the guard is left out (stdetect still checks).
  local available_mb
  available_mb=$(awk '/^MemAvailable:/ { print int($2 / 1024) }' /proc/meminfo 2>/dev/null || echo 0)
  local guard=(--memfree "${memfree_mb}M")
  if [[ -z "$sshloginfile" && $available_mb -gt $((${jobs:-$(nproc)} * memfree_mb)) ]]; then
    guard=()
    echo "$me: ${jobs:-$(nproc)} jobs of ${need_mb}M fit twice in the ${available_mb}M available (largest sampled frame ${width}x$height)" >&2
  else
    echo "$me: --memfree ${memfree_mb}M per job start (largest sampled frame ${width}x$height)" >&2
  fi
  local joblog=$out_dir/detect-dataset.joblog
  : >"$scratch/videos"
  : >"$scratch/outputs"
  for ((k = 0; k < count; k++)); do
    mkdir -p -- "$(dirname -- "$out_dir/${todo_outputs[$k]}")"
    printf '%s\0' "$in_dir/./${todo_videos[$k]}" >>"$scratch/videos"
    printf '%s\0' "$out_dir/./${todo_outputs[$k]}" >>"$scratch/outputs"
  done
  local options=(--null --quote "${guard[@]}" --joblog "+$joblog"
    --results "$scratch/results/{#}")
  [[ -n "$jobs" ]] && options+=(--jobs "$jobs")
  [[ -t 2 ]] && options+=(--bar)
  if [[ -n "$sshloginfile" ]]; then
    options+=(--sshloginfile "$sshloginfile")
    [[ $shared -eq 1 ]] || options+=(--workdir ... --transferfile '{1}' --return '{2}' --cleanup)
  fi
  local log_lines=0
  [[ -f "$joblog" ]] && log_lines=$(wc -l <"$joblog")
  # Each job runs on this machine with the full paths, or on another machine
  # that received the video under its path below /./ in the work folder.
  # shellcheck disable=SC2016
  local job='s=$1 v=$2 o=$3; shift 3
if [ ! -e "$v" ]; then v=./${v#*/./} o=./${o#*/./}; fi
mkdir -p "$(dirname "$o")" && exec "$s" --quiet --threads 1 -v "$v" -o "$o" "$@"'
  trap 'interrupted=1' INT TERM
  parallel "${options[@]}" sh -c "$job" sh "$stdetect" '{1}' '{2}' "${user_options[@]}" \
    :::: "$scratch/videos" ::::+ "$scratch/outputs" || true
  trap 'echo "$me: interrupted" >&2; exit 130' INT TERM

  local seq reason err line
  for ((k = 0; k < count; k++)); do
    seq=$((k + 1))
    err=$scratch/results/$seq.err
    if [[ -f "$out_dir/${todo_outputs[$k]}" ]]; then
      if [[ -f "$err" ]]; then
        while IFS= read -r line; do warn "${todo_videos[$k]}" "$line"; done \
          < <(grep '^stdetect: warning: .* ended after' "$err" || true)
      fi
      continue
    fi
    # No result files: parallel never started the job (interrupted, or parallel failed).
    if [[ ! -f "$scratch/results/$seq.seq" ]]; then
      not_started=$((not_started + 1))
      continue
    fi
    reason=""
    [[ -f "$err" ]] && reason=$(grep -v '^[[:space:]]*$' "$err" | tail -n 1 || true)
    if [[ -z "$reason" && -f "$joblog" ]]; then
      reason=$(tail -n +"$((log_lines + 1))" "$joblog" | awk -F'\t' -v seq="$seq" \
        '$1 == seq { r = $8 > 0 ? "killed by signal " $8 : "exit status " $7 } END { print r }')
    fi
    reason=${reason//\/.\//\/}
    failed+=("${todo_videos[$k]}: ${reason:-stopped without an error line}")
  done
}

# ---- the run: a Slurm job array ---------------------------------------------
# What each array task runs: its share of the list, one video after another.
# Per video it appends "index TAB status TAB stdetect's last line" (and
# "index TAB warning TAB line") to its results file; stdetect's messages go to
# the task's log. Killed by Slurm, it notes the video it was on.
# shellcheck disable=SC2016
task_script='#!/usr/bin/env bash
# detect-dataset.sh array task. Arguments: the list, stdetect, threads,
# IN_DIR, OUT_DIR, stdetect options. The list: videos per task, then video and
# output pairs, each NUL-terminated.
set -u
list=$1 stdetect=$2 threads=$3 in_dir=$4 out_dir=$5
shift 5
id=${SLURM_ARRAY_JOB_ID}_$SLURM_ARRAY_TASK_ID
results=$(dirname "$list")/$id.results
exec 3<"$list"
IFS= read -r -d "" share <&3
first=$((SLURM_ARRAY_TASK_ID * share))
err=$(mktemp)
k=-1
trap '"'"'[ $k -ge 0 ] && printf "%s\tstopped\tstopped by Slurm while detecting\n" $k >>"$results"; rm -f "$err"; exit 143'"'"' TERM INT
echo "task $id on $(hostname): videos $first to $((first + share - 1)) of the list"
bad=0 n=0
while IFS= read -r -d "" video <&3 && IFS= read -r -d "" output <&3; do
  n=$((n + 1))
  [ $n -gt $first ] || continue
  [ $n -le $((first + share)) ] || break
  k=$((n - 1))
  [ -f "$out_dir/$output" ] && { printf "%s\t0\talready done\n" $k >>"$results"; continue; }
  echo "== $video"
  status=0
  mkdir -p "$(dirname "$out_dir/$output")" &&
    "$stdetect" --quiet --threads "$threads" -v "$in_dir/$video" -o "$out_dir/$output" "$@" 2>"$err" ||
    status=$?
  cat "$err" >&2
  grep "^stdetect: warning: " "$err" | while IFS= read -r line; do
    printf "%s\twarning\t%s\n" $k "$line"; done >>"$results"
  printf "%s\t%s\t%s\n" $k $status "$(grep -v "^[[:space:]]*$" "$err" | tail -n 1)" >>"$results"
  k=-1
  [ $status -eq 0 ] || bad=1
done
rm -f "$err"
exit $bad
'

# Polls squeue until the array has left the queue; 1 when Slurm stopped answering.
wait_for_array() {
  local out fails=0
  while [[ $interrupted -eq 0 ]]; do
    if out=$(squeue --noheader --jobs="$job" --format=%i 2>&1); then
      fails=0
      [[ -n "$out" ]] || return 0
    elif [[ "$out" == *"Invalid job id"* ]]; then
      return 0
    else
      fails=$((fails + 1))
      if [[ $fails -ge 60 ]]; then
        echo "$me: squeue failed a minute long: ${out##*$'\n'}; array job $job may still be at work, the same command waits for it" >&2
        return 1
      fi
    fi
    sleep 1
  done
  return 0
}

submit_array() {
  local share=$per_task
  if [[ -z "$share" ]]; then
    # Within the cluster's largest array, and each task about a minute of work or
    # more: one 640x480 frame takes about 70 ms per scale pair and thread.
    local max_array pairs=10 video_ms=0
    max_array=$(scontrol show config 2>/dev/null | awk '$1 == "MaxArraySize" { print $3 }')
    [[ "$max_array" =~ ^[0-9]+$ && $max_array -gt 0 ]] || max_array=1001
    if [[ -n "$scales" ]]; then
      local spatial=${scales%%:*} temporal=${scales#*:}
      spatial=${spatial//[^,]/} temporal=${temporal//[^,]/}
      pairs=$(((${#spatial} + 1) * (${#temporal} + 1)))
    fi
    [[ $sampled -eq 0 ]] || video_ms=$((frames * width * height * pairs * 70 / sampled / 307200 / cpus + 1))
    share=$(((count + max_array - 1) / max_array))
    local long=$((60000 / (video_ms > 0 ? video_ms : 1)))
    [[ $sampled -eq 0 || $long -le $share ]] || share=$long
  fi
  [[ $share -le $count ]] || share=$count
  local tasks=$(((count + share - 1) / share))
  mkdir -p -- "$slurm_dir"
  printf '%s\n' "$task_script" >"$scratch/task.sh"
  # The tasks read this list; a link named by the job's id finds it later.
  local list submitted
  list=$(mktemp "$slurm_dir/list.XXXXXX")
  {
    printf '%s\0' "$share"
    for ((k = 0; k < count; k++)); do
      printf '%s\0%s\0' "${todo_videos[$k]}" "${todo_outputs[$k]}"
    done
  } >"$list" || {
    rm -f -- "$list"
    echo "$me: cannot write the list of videos $list" >&2
    exit 1
  }
  submitted=$(sbatch --parsable --job-name="$job_name" --array="0-$((tasks - 1))" \
    --cpus-per-task="$cpus" --mem="${need_mb}M" --output="$slurm_dir/%A_%a.log" --open-mode=append \
    "${sbatch_options[@]}" "$scratch/task.sh" "$list" "$stdetect" "$cpus" \
    "$in_dir" "$out_dir" "${user_options[@]}" 2>"$scratch/sbatch.err") || true
  job=${submitted%%;*}
  if ! [[ "$job" =~ ^[0-9]+$ ]]; then
    rm -f -- "$list"
    [[ $interrupted -eq 0 ]] || exit 130
    echo "$me: Slurm refused the array: $(grep -v '^[[:space:]]*$' "$scratch/sbatch.err" | tail -n 1)" >&2
    exit 1
  fi
  share_of_job=$share
  ln -sfn -- "${list##*/}" "$slurm_dir/$job.list" ||
    echo "$me: no link $slurm_dir/$job.list; a later run will not find the list of array job $job" >&2
  echo "$me: array job $job: $tasks tasks of up to $share videos, $cpus CPUs and ${need_mb}M each; logs in $slurm_dir" >&2
}

run_slurm() {
  trap 'interrupted=1' INT TERM
  [[ -n "$job" ]] || submit_array
  if [[ $no_wait -eq 1 ]]; then
    echo "$job"
    exit 0
  fi
  local lost=0
  wait_for_array || lost=1
  if [[ $interrupted -eq 1 ]]; then
    scancel "$job" 2>/dev/null || true
    echo "$me: interrupted; array job $job cancelled" >&2
    interrupted=0
    SECONDS=0
    while [[ $SECONDS -lt 60 ]] && ! wait_for_array; do :; done
    interrupted=1
  fi
  trap 'echo "$me: interrupted" >&2; exit 130' INT TERM
  [[ $lost -eq 0 ]] || exit 1

  declare -A state=() reason=()
  local k kind text
  for file in "$slurm_dir/${job}"_*.results; do
    [[ -f "$file" ]] || continue
    while IFS=$'\t' read -r k kind text; do
      if [[ "$kind" == warning ]]; then
        [[ -f "$out_dir/${todo_outputs[$k]}" ]] && warn "${todo_videos[$k]}" "$text"
      else
        state[$k]=$kind reason[$k]=$text
      fi
    done <"$file"
  done
  # Videos no task reached: their task's log ends with Slurm's own reason.
  declare -A unreached=()
  for ((k = 0; k < count; k++)); do
    [[ -f "$out_dir/${todo_outputs[$k]}" ]] && continue
    if [[ -z "${state[$k]:-}" ]]; then
      not_started=$((not_started + 1))
      local task=$((k / share_of_job))
      unreached[$task]=$((${unreached[$task]:-0} + 1))
    elif [[ "${state[$k]}" == stopped ]]; then
      failed+=("${todo_videos[$k]}: ${reason[$k]}")
    else
      failed+=("${todo_videos[$k]}: ${reason[$k]:-exit status ${state[$k]}}")
    fi
  done
  local log why
  for task in "${!unreached[@]}"; do
    log=$slurm_dir/${job}_$task.log
    why="the task never started"
    [[ -f "$log" ]] && why=$(grep -o '\*\*\* .* \*\*\*' "$log" | tail -n 1 || true)
    notes+=("task ${job}_$task left ${unreached[$task]} videos: ${why:-it ended early, see $log}")
  done
}

if [[ $count -gt 0 ]]; then
  if [[ $slurm -eq 1 ]]; then run_slurm; else run_parallel; fi
  made=()
  for ((k = 0; k < count; k++)); do
    [[ -f "$out_dir/${todo_outputs[$k]}" ]] && made+=("$out_dir/${todo_outputs[$k]}")
  done
  done_count=${#made[@]}
  if [[ $done_count -gt 0 ]]; then
    points=$(printf '%s\0' "${made[@]}" | xargs -0 cat -- | grep -vc '^#' || true)
  fi
fi

# ---- summary ----------------------------------------------------------------
summary="$done_count done, ${#failed[@]} failed, $skipped skipped as already done"
[[ $not_started -eq 0 ]] || summary+=", $not_started not started"
echo "$me: $summary, $points points written to $out_dir" >&2
for failure in "${failed[@]}"; do
  echo "$me: failed: $failure" >&2
done
for note in "${notes[@]}"; do
  echo "$me: $note" >&2
done
for warning in "${warnings[@]}"; do
  echo "$me: warning: $warning" >&2
done
if [[ $interrupted -eq 1 ]]; then
  echo "$me: interrupted; the same command goes on where this run stopped" >&2
  exit 130
fi
[[ ${#failed[@]} -eq 0 && $not_started -eq 0 ]] || exit 1
exit 0
