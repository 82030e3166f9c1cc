"""The engines that run a dataset's jobs: GNU parallel (this machine, or others over ssh)
and one Slurm job array. Each takes a Plan and fills in its Results."""

from __future__ import annotations

import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

from . import ME, DatasetError, Result, apply_report, count_points, read_report


def say(line: str) -> None:
    """One line of the runner's own on standard error."""
    print(f"{ME}: {line}", file=sys.stderr, flush=True)


@dataclass
class Plan:
    """What a run does: the stdetect and its options, the folders, and the videos to do
    with their outputs (relative paths); `need_mb` a job's memory in MB."""

    stdetect: str
    options: list[str]
    in_dir: pathlib.Path
    out_dir: pathlib.Path
    results: list[Result]
    need_mb: int = 0
    frame: tuple[int, int] = (640, 480)
    scratch: pathlib.Path = field(default_factory=lambda: pathlib.Path(tempfile.gettempdir()))


def _meminfo_mb(name: str) -> int:
    try:
        with open("/proc/meminfo", encoding="ascii") as lines:
            for line in lines:
                if line.startswith(name + ":"):
                    return int(line.split()[1]) // 1024
    except (OSError, ValueError, IndexError):
        pass
    return 0


# Each job runs on this machine with the full paths, or on another machine that received
# the video under its path below /./ in the work folder.
_JOB = '''s=$1 v=$2 o=$3 r=$4; shift 4
if [ ! -e "$v" ]; then v=./${v#*/./} o=./${o#*/./} r=./${r#*/./}; fi
mkdir -p "$(dirname "$o")" "$(dirname "$r")" && exec "$s" --quiet --threads 1 -v "$v" -o "$o" --report "$r" "$@"'''


def run_parallel(plan: Plan, jobs: int | None, sshloginfile: str | None, shared: bool) -> bool:
    """Runs every video of the plan with GNU parallel, appending to OUT_DIR's job log.
    A job starts only when twice its memory is free: parallel kills the youngest job when
    free memory drops below half of --memfree, and a job's own allocation must never
    cause that. True when interrupted."""
    memfree_mb = 2 * plan.need_mb
    total_mb = _meminfo_mb("MemTotal")
    if total_mb > 0 and memfree_mb > total_mb // 2:
        memfree_mb = total_mb // 2
    # parallel waits a second or more before each job start then, which halves the rate
    # of short videos; when every job of this machine fits in what is available twice
    # over, the guard is left out (stdetect still checks).
    per_machine = jobs or os.cpu_count() or 1
    available_mb = _meminfo_mb("MemAvailable")
    width, height = plan.frame
    guard = ["--memfree", f"{memfree_mb}M"]
    if not sshloginfile and available_mb > per_machine * memfree_mb:
        guard = []
        say(f"{per_machine} jobs of {plan.need_mb}M fit twice in the {available_mb}M available "
            f"(largest sampled frame {width}x{height})")
    else:
        say(f"--memfree {memfree_mb}M per job start (largest sampled frame {width}x{height})")
    joblog = plan.out_dir / "detect-dataset.joblog"
    lists = {name: plan.scratch / f"{name}.list" for name in ("videos", "outputs", "reports")}
    with open(lists["videos"], "wb") as videos, open(lists["outputs"], "wb") as outputs, \
            open(lists["reports"], "wb") as reports:
        for k, result in enumerate(plan.results):
            (plan.out_dir / result.output).parent.mkdir(parents=True, exist_ok=True)
            videos.write(os.fsencode(f"{plan.in_dir}/./{result.video}") + b"\0")
            outputs.write(os.fsencode(f"{plan.out_dir}/./{result.output}") + b"\0")
            reports.write(os.fsencode(f"{plan.scratch}/./reports/{k + 1}.json") + b"\0")
    command = ["parallel", "--null", "--quote", *guard, "--joblog", f"+{joblog}",
               "--results", f"{plan.scratch}/results/{{#}}"]
    if jobs:
        command += ["--jobs", str(jobs)]
    if sys.stderr.isatty():
        command.append("--bar")
    if sshloginfile:
        command += ["--sshloginfile", sshloginfile]
        if not shared:
            command += ["--workdir", "...", "--transferfile", "{1}", "--return", "{2}",
                        "--return", "{3}", "--cleanup"]
    command += ["sh", "-c", _JOB, "sh", plan.stdetect, "{1}", "{2}", "{3}", *plan.options,
                "::::", str(lists["videos"]), "::::+", str(lists["outputs"]),
                "::::+", str(lists["reports"])]
    log_lines = _line_count(joblog)
    # Nothing of the jobs' comes on standard output (stdetect writes to files); what
    # parallel might print there goes with the report lines, off the caller's output.
    interrupted = _wait(subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=2))

    ended = _joblog_ends(joblog, log_lines)
    for k, result in enumerate(plan.results):
        seq = k + 1
        err = plan.scratch / "results" / f"{seq}.err"
        result.log = str(joblog)
        if not (plan.scratch / "results" / f"{seq}.seq").is_file():
            continue  # parallel never started the job (interrupted, or parallel failed)
        apply_report(result, read_report(plan.scratch / "reports" / f"{seq}.json"))
        output = plan.out_dir / result.output
        if output.is_file():
            result.status, result.points = "done", count_points(output)
            continue
        if result.status in ("not started", "done"):
            result.status = "failed"
        if not result.error:
            result.error = _last_line(err) or ended.get(seq, "")
        result.error = result.error.replace("/./", "/")
    return interrupted


def _wait(process: subprocess.Popen) -> bool:
    """Waits for `process` (which got the terminal's Ctrl-C itself); True when
    interrupted meanwhile."""
    interrupted = False
    while True:
        try:
            process.wait()
            return interrupted
        except KeyboardInterrupt:
            interrupted = True


def _line_count(path: pathlib.Path) -> int:
    try:
        with path.open("rb") as lines:
            return sum(1 for _ in lines)
    except OSError:
        return 0


def _joblog_ends(joblog: pathlib.Path, skip: int) -> dict[int, str]:
    """How each job of this run ended by the job log's columns (lines after `skip`)."""
    ends = {}
    try:
        lines = joblog.read_text(encoding="utf-8", errors="replace").splitlines()[skip:]
    except OSError:
        return ends
    for line in lines:
        columns = line.split("\t")
        if len(columns) > 7 and columns[0].isdigit():
            signal_number = columns[7]
            ends[int(columns[0])] = (f"killed by signal {signal_number}" if signal_number not in ("", "0")
                                     else f"exit status {columns[6]}")
    return ends


def _last_line(path: pathlib.Path) -> str:
    try:
        lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
    except OSError:
        return ""
    lines = [line for line in lines if line.strip()]
    return lines[-1] if lines else ""


# ---- Slurm ------------------------------------------------------------------------


def _cksum_table() -> list[int]:
    table = []
    for byte in range(256):
        crc = byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
        table.append(crc)
    return table


_CKSUM = _cksum_table()


def cksum(data: bytes) -> int:
    """POSIX cksum's checksum of `data` (the CRC of the bytes and their length)."""
    crc = 0
    length = len(data)
    tail = []
    while length:
        tail.append(length & 0xFF)
        length >>= 8
    for byte in data + bytes(tail):
        crc = ((crc << 8) & 0xFFFFFFFF) ^ _CKSUM[(crc >> 24) ^ byte]
    return ~crc & 0xFFFFFFFF


def job_name(out_dir: pathlib.Path) -> str:
    """The job name of OUT_DIR's arrays, which finds an array already at work on it."""
    return f"{ME}-{cksum(os.fsencode(str(out_dir)))}"


def queued_array(out_dir: pathlib.Path) -> str | None:
    """The id of an array of OUT_DIR still queued or running, else None."""
    try:
        result = subprocess.run(["squeue", "--noheader", f"--user={_user()}", f"--name={job_name(out_dir)}", "--format=%F"],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
    except OSError as error:
        raise DatasetError(f"cannot ask Slurm for arrays already at work: {error.strerror}") from None
    if result.returncode != 0:
        raise DatasetError(f"cannot ask Slurm for arrays already at work: {_last(result.stderr)}")
    for line in result.stdout.split():
        if line.isdigit():
            return line
    return None


def _user() -> str:
    import pwd
    return pwd.getpwuid(os.getuid()).pw_name


def _last(text: str) -> str:
    lines = [line for line in text.splitlines() if line.strip()]
    return lines[-1] if lines else ""


def read_list(path: pathlib.Path) -> tuple[int, list[tuple[str, str]]]:
    """(videos per task, (video, output) pairs) of an array's list: NUL-terminated fields,
    the share first."""
    fields = [os.fsdecode(item) for item in path.read_bytes().split(b"\0")[:-1]]
    return int(fields[0]), list(zip(fields[1::2], fields[2::2]))


def max_array_size() -> int:
    """The cluster's MaxArraySize (1001 when Slurm does not say)."""
    try:
        text = subprocess.run(["scontrol", "show", "config"], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True).stdout
    except OSError:
        return 1001
    match = re.search(r"^MaxArraySize\s*=\s*(\d+)", text, re.M)
    return int(match.group(1)) if match and int(match.group(1)) > 0 else 1001


def submit_array(plan: Plan, share: int, cpus: int, sbatch_options: list[str]) -> str:
    """Submits one array of the plan's videos, `share` per task; its id. The list and a
    manifest the tasks read stay in OUT_DIR/detect-dataset.slurm, the list linked as
    JOB.list. Raises DatasetError with Slurm's line when it refuses."""
    slurm_dir = plan.out_dir / "detect-dataset.slurm"
    slurm_dir.mkdir(parents=True, exist_ok=True)
    count = len(plan.results)
    tasks = (count + share - 1) // share
    descriptor, name = tempfile.mkstemp(prefix="list.", dir=slurm_dir)
    list_path = pathlib.Path(name)
    manifest = list_path.with_name(list_path.name + ".manifest")
    package_root = pathlib.Path(__file__).resolve().parents[2]
    try:
        with os.fdopen(descriptor, "wb") as out:
            out.write(f"{share}\0".encode())
            for result in plan.results:
                out.write(os.fsencode(result.video) + b"\0" + os.fsencode(result.output) + b"\0")
        manifest.write_text(json.dumps({
            "list": str(list_path), "stdetect": plan.stdetect, "threads": cpus,
            "in_dir": str(plan.in_dir), "out_dir": str(plan.out_dir),
            "options": plan.options}), encoding="utf-8")
        task = plan.scratch / "task.sh"
        task.write_text("#!/bin/sh\n# detect-dataset array task: its share of the list.\n"
                        f"PYTHONPATH={_sh(str(package_root))}${{PYTHONPATH:+:$PYTHONPATH}}\n"
                        "export PYTHONPATH\n"
                        f"exec {_sh(sys.executable)} -m stview.dataset task {_sh(str(manifest))} "
                        "\"$SLURM_ARRAY_TASK_ID\"\n", encoding="utf-8")
    except OSError as error:
        list_path.unlink(missing_ok=True)
        manifest.unlink(missing_ok=True)
        raise DatasetError(f"cannot write the list of videos {list_path}: {error.strerror}") from None
    command = ["sbatch", "--parsable", f"--job-name={job_name(plan.out_dir)}",
               f"--array=0-{tasks - 1}", f"--cpus-per-task={cpus}", f"--mem={plan.need_mb}M",
               f"--output={slurm_dir}/%A_%a.log", "--open-mode=append", *sbatch_options,
               str(plan.scratch / "task.sh")]
    try:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        job = result.stdout.strip().split(";")[0]
    except OSError as error:
        result, job = None, ""
        refusal = error.strerror
    if not job.isdigit():
        list_path.unlink(missing_ok=True)
        manifest.unlink(missing_ok=True)
        raise DatasetError(f"Slurm refused the array: {_last(result.stderr) if result else refusal}")
    link = slurm_dir / f"{job}.list"
    try:
        link.unlink(missing_ok=True)
        link.symlink_to(list_path.name)
    except OSError:
        say(f"no link {link}; a later run will not find the list of array job {job}")
    say(f"array job {job}: {tasks} tasks of up to {share} videos, {cpus} CPUs and "
        f"{plan.need_mb}M each; logs in {slurm_dir}")
    return job


def _sh(text: str) -> str:
    return "'" + text.replace("'", "'\\''") + "'"


def _as_interrupt(*_: object) -> None:
    raise KeyboardInterrupt


def wait_for_array(job: str, interrupted: list[bool]) -> bool:
    """Polls squeue until the array has left the queue (or Ctrl-C sets interrupted[0]);
    False when Slurm stopped answering for a minute."""
    fails = 0
    while not interrupted[0]:
        try:
            result = subprocess.run(["squeue", "--noheader", f"--jobs={job}", "--format=%i"],
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True)
            if result.returncode == 0:
                fails = 0
                if not result.stdout.strip():
                    return True
            elif "Invalid job id" in result.stderr:
                return True
            else:
                fails += 1
                if fails >= 60:
                    say(f"squeue failed a minute long: {_last(result.stderr)}; array job {job} "
                        "may still be at work, the same command waits for it")
                    return False
            time.sleep(1)
        except KeyboardInterrupt:
            interrupted[0] = True
    return True


def run_slurm(plan: Plan, job: str | None, share: int, cpus: int, sbatch_options: list[str],
              no_wait: bool) -> tuple[bool, list[str]]:
    """Submits the plan's array (unless `job` names one already at work on its videos),
    waits for it and reads its tasks' results. (interrupted, notes on tasks that left
    videos). With `no_wait`, prints the job's id and exits 0."""
    interrupted = [False]
    previous = signal.getsignal(signal.SIGTERM)
    signal.signal(signal.SIGTERM, _as_interrupt)
    try:
        if job is None:
            try:
                job = submit_array(plan, share, cpus, sbatch_options)
            except KeyboardInterrupt:
                raise SystemExit(130) from None
        if no_wait:
            print(job, flush=True)
            raise SystemExit(0)
        answered = wait_for_array(job, interrupted)
        if interrupted[0]:
            subprocess.run(["scancel", job], stdin=subprocess.DEVNULL, capture_output=True)
            say(f"interrupted; array job {job} cancelled")
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and not wait_for_array(job, [False]):
                pass
    finally:
        signal.signal(signal.SIGTERM, previous)
    if not answered:
        raise SystemExit(1)
    return interrupted[0], read_array_results(plan, job, share)


def read_array_results(plan: Plan, job: str, share: int) -> list[str]:
    """Fills the plan's results from the tasks' results files; notes on tasks that left
    videos, with the task's end as Slurm wrote it in its log."""
    slurm_dir = plan.out_dir / "detect-dataset.slurm"
    seen: set[int] = set()
    for path in sorted(slurm_dir.glob(f"{job}_*.results")):
        for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
            columns = line.split("\t", 3)
            if len(columns) < 3 or not columns[0].isdigit() or int(columns[0]) >= len(plan.results):
                continue
            k = int(columns[0])
            result = plan.results[k]
            result.log = str(path.with_suffix(".log"))
            if columns[1] == "warning":
                continue
            seen.add(k)
            result.status, result.error = "failed", columns[2]
            if columns[1] == "stopped":
                continue
            apply_report(result, read_report_text(columns[3]) if len(columns) > 3 else None)
            if not result.error:
                result.error = f"exit status {columns[1]}" if columns[1] != "0" else ""
    unreached: dict[int, int] = {}
    for k, result in enumerate(plan.results):
        output = plan.out_dir / result.output
        if output.is_file():
            result.status, result.points = "done", count_points(output)
        elif k not in seen:
            result.status = "not started"
            unreached[k // share] = unreached.get(k // share, 0) + 1
        elif result.status == "done":
            result.status = "failed"
    notes = []
    for task, left in sorted(unreached.items()):
        log = slurm_dir / f"{job}_{task}.log"
        why = "the task never started"
        if log.is_file():
            ends = re.findall(r"\*\*\* .* \*\*\*", log.read_text(encoding="utf-8", errors="replace"))
            why = ends[-1] if ends else f"it ended early, see {log}"
        notes.append(f"task {job}_{task} left {left} videos: {why}")
    return notes


def read_report_text(text: str) -> dict | None:
    try:
        report = json.loads(text)
    except ValueError:
        return None
    return report if isinstance(report, dict) else None


def run_task(manifest_path: pathlib.Path, index: int) -> int:
    """One array task: its share of the list, one video after another. Per video it
    appends "index TAB status TAB stdetect's last line TAB stdetect's report" (and
    "index TAB warning TAB line") to its results file; stdetect's messages go to the
    task's log (standard error). Stopped by Slurm, it notes the video it was on."""
    manifest = json.loads(manifest_path.read_text(encoding="utf-8"))
    share, pairs = read_list(pathlib.Path(manifest["list"]))
    in_dir, out_dir = pathlib.Path(manifest["in_dir"]), pathlib.Path(manifest["out_dir"])
    task_id = f"{os.environ.get('SLURM_ARRAY_JOB_ID', 'local')}_{index}"
    results = pathlib.Path(manifest["list"]).parent / f"{task_id}.results"
    first = index * share
    print(f"task {task_id} on {os.uname().nodename}: videos {first} to {first + share - 1} of the list",
          flush=True)
    current: list = [-1, None]

    def stopped(*_: object) -> None:
        # stdetect got the signal too: it removes its partial output before it ends.
        if current[1] is not None and current[1].poll() is None:
            current[1].send_signal(signal.SIGTERM)
            current[1].wait()
        if current[0] >= 0:
            _append(results, f"{current[0]}\tstopped\tstopped by Slurm while detecting\n")
        os._exit(143)

    signal.signal(signal.SIGTERM, stopped)
    signal.signal(signal.SIGINT, stopped)
    bad = 0
    for k in range(first, min(first + share, len(pairs))):
        video, output = pairs[k]
        if (out_dir / output).is_file():
            _append(results, f"{k}\t0\talready done\n")
            continue
        print(f"== {video}", flush=True)
        current[0] = k
        (out_dir / output).parent.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryDirectory() as scratch:
            report_path = pathlib.Path(scratch, "report.json")
            process = subprocess.Popen(
                [manifest["stdetect"], "--quiet", "--threads", str(manifest["threads"]),
                 "-v", str(in_dir / video), "-o", str(out_dir / output),
                 "--report", str(report_path), *manifest["options"]],
                stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
            current[1] = process
            errors = process.communicate()[1].decode(errors="replace")
            sys.stderr.write(errors)
            sys.stderr.flush()
            report = read_report(report_path)
        line = _last(errors)
        text = ""
        if report is not None:
            text = json.dumps(report)
            if report.get("error"):
                line = "stdetect: " + str(report["error"])
            if report.get("warning"):
                _append(results, f"{k}\twarning\tstdetect: warning: {report['warning']}\n")
        _append(results, f"{k}\t{process.returncode}\t{line}\t{text}\n")
        current[0] = -1
        bad = bad or process.returncode != 0
    return 1 if bad else 0


def _append(path: pathlib.Path, line: str) -> None:
    with path.open("a", encoding="utf-8") as out:
        out.write(line)
