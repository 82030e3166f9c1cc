"""Features for the evaluation: the dataset runner (stview.dataset) over a dataset, stdetect
on single videos, and the record of the detector options a features folder was made with."""

from __future__ import annotations

import json
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
from typing import Sequence

import stview.dataset as runner
from stview.dataset import runner as dataset_cli

from .errors import BadArguments, Failed
from .output import write_atomically

DESCRIPTORS = "hog,hof"
# The descriptors each detector's features carry, when not DESCRIPTORS.
DETECTOR_DESCRIPTORS = {"trajectories": "trajectory,hog,hof,mbh"}
RECORD = "detector-options.json"
# The features files' form the evaluation makes (the dataset runner's --format): HDF5. An
# OUT whose record names no form was made with text features, read as they are.
FORMAT = "h5"


def detector_of(options: Sequence[str]) -> str:
    """The detector the stdetect options choose (--detector NAME or --detector=NAME; the
    last one given), harris by default."""
    chosen = "harris"
    for index, option in enumerate(options):
        if option == "--detector" and index + 1 < len(options):
            chosen = options[index + 1]
        elif option.startswith("--detector="):
            chosen = option.split("=", 1)[1]
    return chosen


def descriptors_for(options: Sequence[str]) -> str:
    """The --descriptors the evaluation asks stdetect for: all of the chosen detector's."""
    return DETECTOR_DESCRIPTORS.get(detector_of(options), DESCRIPTORS)


def _error(error: runner.DatasetError) -> Exception:
    return BadArguments(str(error)) if error.status == 2 else Failed(str(error))


def stdetect_path() -> str:
    """The stdetect to run, as the dataset runner finds it (stview.dataset.find_stdetect)."""
    try:
        return runner.find_stdetect()[0]
    except runner.DatasetError as error:
        raise _error(error) from None


def check_stdetect_options(options: list[str]) -> None:
    """Checks the options after -- as the runner and stdetect do (stdetect with
    --memory-need, which reads no video): BadArguments naming what is wrong, before
    anything is made or compared with the options recorded."""
    try:
        runner.check_user_options(options)
    except runner.DatasetError as error:
        raise BadArguments(f"the stdetect options after --: {error}") from None
    command = [stdetect_path(), "--memory-need", "64x48", *options]
    try:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, text=True, errors="replace")
    except OSError as error:
        raise Failed(f"cannot run stdetect {command[0]}: {error.strerror}") from None
    if result.returncode == 2:
        lines = [line for line in result.stderr.splitlines() if line.strip()]
        raise BadArguments(f"the stdetect options after --: {lines[-1] if lines else 'refused'}")


def features_format(out: pathlib.Path) -> str:
    """The form of OUT's features files, "h5" or "txt": the one OUT/detector-options.json
    names, txt for a record that names none (made with text features), FORMAT for an OUT
    without a record."""
    try:
        made = json.loads((out / RECORD).read_text(encoding="utf-8"))
    except FileNotFoundError:
        return FORMAT
    except (OSError, ValueError):
        return "txt"  # check_options reports the unreadable record
    form = made.get("format", "txt") if isinstance(made, dict) else "txt"
    return form if form in ("h5", "txt") else "txt"


def check_options(out: pathlib.Path, options: list[str]) -> bool:
    """Records the stdetect options of OUT's features in OUT/detector-options.json on the
    first run; a later run must ask for the same ones (BadArguments otherwise: features made
    with other options are never mixed). True when the record was made now."""
    record = out / RECORD
    wanted = {"stdetect": options, "descriptors": descriptors_for(options)}
    if record.exists():
        try:
            made = json.loads(record.read_text(encoding="utf-8"))
        except (OSError, ValueError) as error:
            raise Failed(f"cannot read {record}: {error}") from None
        if {key: value for key, value in made.items() if key != "format"} != wanted:
            raise BadArguments(
                f"{out}/features were made with the stdetect options {made.get('stdetect')!r}, not "
                f"{options!r}: give the same options after --, or another OUT")
        return False
    write_atomically(record, json.dumps({**wanted, "format": FORMAT}, indent=2) + "\n")
    return True


def recorded_options(out: pathlib.Path) -> list[str]:
    """The stdetect options recorded in OUT (see check_options)."""
    return json.loads((out / RECORD).read_text(encoding="utf-8"))["stdetect"]


def run(command: Sequence[str], *, env: dict[str, str] | None = None,
        capture: bool = False) -> tuple[int, str]:
    """Runs `command` in a process group of its own with standard output sent to standard
    error (standard output carries the report). Returns (status, its standard error when
    `capture`). On Ctrl-C the group gets SIGINT and is waited for (so that it keeps what it
    finished), then KeyboardInterrupt goes on; a second Ctrl-C kills it."""
    sys.stderr.flush()
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=2,
                               stderr=subprocess.PIPE if capture else None, process_group=0)
    try:
        _, errors = process.communicate()
    except KeyboardInterrupt:
        os.killpg(process.pid, signal.SIGINT)
        try:
            process.wait()
        except KeyboardInterrupt:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        raise
    return process.returncode, (errors or b"").decode(errors="replace")


def detect_dataset(dataset: pathlib.Path, features: pathlib.Path, options: list[str],
                   jobs: int | None) -> list[runner.Result]:
    """Runs the dataset runner's parallel engine over `dataset` into `features` with the
    detector's descriptors and the given stdetect options, skipping every video whose features file
    exists; its report lines go to standard error. Returns each video it ran (failed ones
    are not an error); bad options raise BadArguments (and leave no `features` folder
    made by this call), an interruption KeyboardInterrupt."""
    made = not features.exists()
    argv = (["-j", str(jobs)] if jobs is not None else []) + [
        "--format", features_format(features.parent),
        str(dataset), str(features), "--", "--descriptors", descriptors_for(options), *options]
    sys.stderr.flush()
    try:
        arguments = dataset_cli.parse(argv)
        assert arguments is not None
        with tempfile.TemporaryDirectory(prefix="stview-evaluate-") as scratch:
            summary = dataset_cli.run(arguments, pathlib.Path(scratch))
    except runner.DatasetError as error:
        if made and features.is_dir() and not any(features.iterdir()):
            features.rmdir()
        raise _error(error) from None
    assert summary is not None
    if summary.interrupted:
        raise KeyboardInterrupt
    return summary.results


def detect_video(video: pathlib.Path, output: pathlib.Path, options: list[str]) -> str | None:
    """Runs stdetect on one video with the detector's descriptors; None when done, else its error line."""
    command = [stdetect_path(), "--quiet", "-v", str(video), "-o", str(output),
               "--descriptors", descriptors_for(options), *options]
    status, errors = run(command, capture=True)
    if status == 130:
        raise KeyboardInterrupt
    if status == 0:
        return None
    lines = [line for line in errors.splitlines() if line.strip()]
    return lines[-1] if lines else f"stdetect stopped with status {status}"
