"""The command line of scripts/detect-dataset.sh (python3 -m stview.dataset), and
`task MANIFEST INDEX`, what each task of a Slurm array runs.

Exit status: 0 every video done, 1 some video failed or Slurm refused the array, 2 bad
arguments, 130 interrupted (a Slurm array is cancelled).
"""

from __future__ import annotations

import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field

from . import (DEFAULT_FRAME, ME, DatasetError, Result, Summary, check_user_options,
               find_stdetect, list_videos, memory_need_mb, need_options, output_names,
               probe_frame, sample_indexes, scale_pairs, to_do, videos_per_task)
from . import engines
from .engines import Plan, say

USAGE = """usage: detect-dataset.sh [-j N] [--sshloginfile FILE [--shared]] [--format h5|txt]
                         IN_DIR OUT_DIR [-- stdetect options]
       detect-dataset.sh --slurm [--per-task N] [--cpus-per-task N] [--sbatch OPTION]... [--no-wait]
                         [--format h5|txt] IN_DIR OUT_DIR [-- stdetect options]
--format: the features files' form, text (.txt, the default) or HDF5 (.h5)"""

# sbatch options the runner sets itself.
OWN_SBATCH = re.compile(r"-a|--array|-J|--job-name|-o|--output|-e|--error|--open-mode|--wrap"
                        r"|-c|--cpus-per-task")


@dataclass
class Arguments:
    """detect-dataset.sh's command line."""

    in_dir: str = ""
    out_dir: str = ""
    jobs: int | None = None
    sshloginfile: str | None = None
    shared: bool = False
    slurm: bool = False
    per_task: int | None = None
    cpus: int | None = None
    no_wait: bool = False
    sbatch: list[str] = field(default_factory=list)
    options: list[str] = field(default_factory=list)
    format: str = "txt"  # of the features files: txt or h5


def bad(message: str) -> DatasetError:
    return DatasetError(f"{message} (see detect-dataset.sh --help)", 2)


def positive(text: str) -> bool:
    return re.fullmatch(r"[1-9][0-9]{0,8}", text) is not None


def parse(argv: list[str]) -> Arguments | None:
    """The arguments, checked; None for --help. Raises DatasetError (status 2)."""
    args = Arguments()
    positional: list[str] = []
    values: dict[str, str] = {}
    k = 0
    while k < len(argv):
        word = argv[k]
        if word in ("-h", "--help"):
            return None
        if word in ("-j", "--jobs", "--sshloginfile", "--per-task", "--cpus-per-task", "--sbatch",
                    "--format"):
            if k + 1 >= len(argv):
                raise bad(f"{word} needs a value")
            if word == "--sbatch":
                args.sbatch.append(argv[k + 1])
            else:
                values["-j" if word == "--jobs" else word] = argv[k + 1]
            k += 2
        elif word in ("--shared", "--slurm", "--no-wait"):
            setattr(args, word[2:].replace("-", "_"), True)
            k += 1
        elif word == "--":
            args.options = argv[k + 1:]
            break
        elif word.startswith("-") and len(word) > 1:
            raise bad(f"unknown option {word}")
        else:
            positional.append(word)
            k += 1
    if len(positional) != 2:
        raise bad("need IN_DIR and OUT_DIR")
    args.in_dir, args.out_dir = positional
    args.format = values.get("--format", "txt")
    if args.format not in ("h5", "txt"):
        raise bad(f"--format is h5 or txt, not '{args.format}'")
    jobs = values.get("-j")
    if jobs is not None and not positive(jobs):
        raise bad(f"-j needs a positive number of jobs, not '{jobs}'")
    if not os.path.isdir(args.in_dir):
        raise bad(f"no folder {args.in_dir}")
    args.jobs = int(jobs) if jobs else None
    args.sshloginfile = values.get("--sshloginfile") or None
    per_task, cpus = values.get("--per-task", ""), values.get("--cpus-per-task", "")
    if args.slurm:
        if args.sshloginfile:
            raise bad("--slurm and --sshloginfile are two engines; choose one")
        if jobs:
            raise bad("-j goes with the parallel engine; with --slurm, --cpus-per-task sets a task's CPUs")
        if per_task and not positive(per_task):
            raise bad(f"--per-task needs a positive number of videos, not '{per_task}'")
        if cpus and not positive(cpus):
            raise bad(f"--cpus-per-task needs a positive number, not '{cpus}'")
        for option in args.sbatch:
            if OWN_SBATCH.match(option) or option in ("-H", "--hold", "--parsable", "-W", "--wait"):
                raise bad(f"--sbatch {option}: the script sets that itself")
            if not option.startswith("-"):
                raise bad(f"--sbatch takes one option word, such as --partition=cpu, not '{option}'")
        for command in ("sbatch", "squeue", "scontrol", "scancel"):
            if shutil.which(command) is None:
                raise bad(f"no {command} on PATH; --slurm needs Slurm's client commands")
    else:
        if per_task or cpus or args.sbatch or args.no_wait:
            raise bad("--per-task, --cpus-per-task, --sbatch and --no-wait go with --slurm")
        if args.sshloginfile and not os.access(args.sshloginfile, os.R_OK):
            raise bad(f"cannot read the ssh login file {args.sshloginfile}")
        if args.shared and not args.sshloginfile:
            raise bad("--shared goes with --sshloginfile")
        if shutil.which("parallel") is None:
            raise bad("GNU parallel is missing (scripts/install-deps.sh installs it)")
    args.per_task = int(per_task) if per_task else None
    args.cpus = int(cpus) if cpus else 1
    return args


def probe_options(stdetect: str, options: list[str], scratch: pathlib.Path) -> None:
    """Every stdetect option is checked before any video is read (status 2), so one run
    on a missing video tells a bad option from a usable one."""
    try:
        result = subprocess.run([stdetect, "--quiet", "--threads", "1", *options, "-v",
                                 str(scratch / "none.avi"), "-o", str(scratch / "none.txt")],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                errors="replace")
    except OSError as error:
        raise DatasetError(f"cannot run {stdetect}: {error.strerror}", 2) from None
    if result.returncode == 2:
        lines = [line for line in result.stderr.splitlines() if line.strip()]
        raise DatasetError(lines[-1] if lines else "stdetect refused the options", 2)


def run(args: Arguments, scratch: pathlib.Path) -> Summary | None:
    """The whole run, its report lines printed; its summary (None when --no-wait or an
    array already at work left nothing to report). Raises DatasetError; `scratch` is an
    empty folder for the run's own files."""
    check_user_options(args.options)
    try:
        os.makedirs(args.out_dir, exist_ok=True)
    except OSError:
        raise bad(f"cannot make the folder {args.out_dir}") from None
    in_dir = pathlib.Path(os.path.abspath(args.in_dir))
    out_dir = pathlib.Path(os.path.abspath(args.out_dir))
    stdetect, origin = find_stdetect()
    say(f"stdetect {stdetect} ({origin})")
    probe_options(stdetect, args.options, scratch)

    videos = list_videos(in_dir)
    names = output_names(videos, "." + args.format)
    job = engines.queued_array(out_dir) if args.slurm else None
    share = args.per_task or 0
    if job is not None:
        if args.no_wait:
            say(f"array job {job} is already at work on {out_dir}; nothing submitted")
            print(job, flush=True)
            return None
        say(f"array job {job} is already at work on {out_dir}; waiting for it instead of submitting")
        try:
            share, pairs = engines.read_list(out_dir / "detect-dataset.slurm" / f"{job}.list")
        except (OSError, ValueError, IndexError):
            pairs = []
        if not pairs:
            raise DatasetError(f"array job {job} has no list of videos in "
                               f"{out_dir / 'detect-dataset.slurm'}; wait for it or cancel it")
        in_job = {output for _, output in pairs}
        todo = [video for video, _ in pairs]
        names.update(dict(pairs))
        skipped = sum(1 for video in videos
                      if names[video] not in in_job and (out_dir / names[video]).is_file())
    else:
        todo, skipped = to_do(videos, names, out_dir)
        say(f"{len(videos)} videos under {in_dir}, {skipped} already done, {len(todo)} to do")
    results = [Result(video, names[video]) for video in todo]

    # stdetect names the memory its frame size and scales need; the largest frame of up
    # to five sampled videos counts. Their frames tell how long a video takes.
    frame, frames, sampled = (0, 0), 0, 0
    for k in sample_indexes(len(todo)):
        probed = probe_frame(in_dir / todo[k])
        if isinstance(probed, str):
            say(f"ffprobe cannot read {todo[k]} (left out of the memory need): {probed}")
            continue
        sampled += 1
        frames += probed[2]
        if probed[0] * probed[1] > frame[0] * frame[1]:
            frame = probed[:2]
    if sampled == 0:
        frame = DEFAULT_FRAME
    plan = Plan(stdetect, args.options, in_dir, out_dir, results, frame=frame, scratch=scratch)
    if todo and job is None:
        plan.need_mb = memory_need_mb(stdetect, frame, need_options(args.options, args.cpus))

    summary = Summary(results, skipped, out_dir)
    if todo:
        if args.slurm:
            if job is None and not share:
                share = videos_per_task(len(todo), engines.max_array_size(), sampled, frames,
                                        frame, scale_pairs(args.options), args.cpus)
            share = min(share, len(todo))
            summary.interrupted, summary.notes = engines.run_slurm(
                plan, job, share, args.cpus, args.sbatch, args.no_wait)
        else:
            summary.interrupted = engines.run_parallel(plan, args.jobs, args.sshloginfile,
                                                       args.shared)
    for line in summary.lines():
        say(line)
    return summary


def main(argv: list[str]) -> int:
    """The command line; its exit status."""
    if argv[:1] == ["task"]:
        if len(argv) != 3 or not argv[2].isdigit():
            print(f"{ME}: usage: python3 -m stview.dataset task MANIFEST INDEX", file=sys.stderr)
            return 2
        return engines.run_task(pathlib.Path(argv[1]), int(argv[2]))
    signal.signal(signal.SIGTERM, engines._as_interrupt)  # as Ctrl-C: report, then 130
    try:
        args = parse(argv)
        if args is None:
            print(USAGE)
            return 0
        with tempfile.TemporaryDirectory() as scratch:
            summary = run(args, pathlib.Path(scratch))
        return 0 if summary is None else summary.status()
    except DatasetError as error:
        say(str(error))
        return error.status
    except KeyboardInterrupt:
        say("interrupted")
        return 130

