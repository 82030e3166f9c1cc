"""A dataset's videos through stdetect: which files are videos, the features file of each,
what is left to do, the memory a job needs, and each video's result as data.

The engines that run the jobs (GNU parallel, a Slurm job array) are in
stview.dataset.engines, the command line (scripts/detect-dataset.sh) in
stview.dataset.__main__. Standard library only: cluster nodes need no numpy.
"""

from __future__ import annotations

import json
import os
import pathlib
import shutil
import subprocess
from dataclasses import dataclass, field
from typing import Sequence

ME = "detect-dataset"

# What counts as a video (any case).
VIDEO_EXTENSIONS = frozenset(
    "avi mp4 m4v mov mkv webm mpg mpeg m2v ts mts m2ts wmv asf flv ogv 3gp 3g2 vob mxf y4m divx dv".split())

# Beside the detector's buffers a process holds about 90 MB of libraries and decoder
# state; a tenth more covers what the formula rounds away.
HEADROOM_MB = 128
DEFAULT_FRAME = (640, 480)
SAMPLED_VIDEOS = 5


class DatasetError(Exception):
    """One line for the user; `status` is the exit status (2 bad arguments, 1 failure)."""

    def __init__(self, message: str, status: int = 1) -> None:
        super().__init__(message)
        self.status = status


def is_video(name: str) -> bool:
    """Whether a file of this name is taken for a video."""
    return "." in name and name.rsplit(".", 1)[1].lower() in VIDEO_EXTENSIONS


def list_videos(in_dir: pathlib.Path) -> list[str]:
    """Every video under `in_dir` ('/'-separated paths relative to it; regular files or
    links to them, folders linked to are not entered), sorted by their bytes."""
    found = []
    for folder, _, files in os.walk(in_dir):
        for name in files:
            if is_video(name) and os.path.isfile(os.path.join(folder, name)):
                found.append(pathlib.Path(folder, name).relative_to(in_dir).as_posix())
    return sorted(found, key=os.fsencode)


def output_names(videos: Sequence[str], extension: str = ".txt") -> dict[str, str]:
    """The features file of each video, relative to the output folder: the video's path
    with `extension` ('.txt', or '.h5' for the HDF5 form) for its extension, or with it
    added when two videos of one folder share a name but not an extension (so no two videos
    write one file)."""
    stems: dict[str, int] = {}
    for video in videos:
        stem = video.rsplit(".", 1)[0]
        stems[stem] = stems.get(stem, 0) + 1
    return {video: video + extension if stems[video.rsplit(".", 1)[0]] > 1
            else video.rsplit(".", 1)[0] + extension for video in videos}


def to_do(videos: Sequence[str], names: dict[str, str],
          out_dir: pathlib.Path) -> tuple[list[str], int]:
    """(the videos whose features file is missing under `out_dir`, how many have one)."""
    todo = [video for video in videos if not (out_dir / names[video]).is_file()]
    return todo, len(videos) - len(todo)


def sample_indexes(count: int, samples: int = SAMPLED_VIDEOS) -> list[int]:
    """The videos sampled for frame size and length: up to `samples`, spread evenly."""
    return [k * count // min(count, samples) for k in range(min(count, samples))]


def find_stdetect(project_root: pathlib.Path | None = None) -> tuple[str, str]:
    """(absolute path, where it came from) of the stdetect to run: $STDETECT, else the one
    of this install (beside the package or its prefix's programs), else PATH's, else the
    project's build below `project_root`. Raises DatasetError (status 2) when it is no
    program."""
    if os.environ.get("STDETECT"):
        path, origin = os.environ["STDETECT"], "from STDETECT"
    else:
        package = pathlib.Path(__file__).resolve().parents[1]
        installed = [package / "bin" / "stdetect"]
        if len(package.parents) > 3:
            installed.append(package.parents[3] / "bin" / "stdetect")
        installed = [str(p) for p in installed if p.is_file() and os.access(p, os.X_OK)]
        on_path = shutil.which("stdetect")
        if installed:
            path, origin = installed[0], "of this install"
        elif on_path:
            path, origin = on_path, "on PATH"
        else:
            root = project_root or pathlib.Path(__file__).resolve().parents[3]
            path, origin = str(root / "build" / "detector" / "stdetect"), "the project's build"
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        raise DatasetError(f"no stdetect at {path} ({origin}); build it with scripts/build.sh "
                           "or set STDETECT", 2)
    return os.path.abspath(path), origin


def check_user_options(options: Sequence[str]) -> None:
    """Refuses (status 2) the stdetect options the runner sets for each video itself."""
    for option in options:
        if option in ("-v", "-o", "--threads", "--report"):
            raise DatasetError(f"{option} is set for each video; give only the other "
                               "stdetect options", 2)


def need_options(options: Sequence[str], threads: int) -> list[str]:
    """The options that size a job's memory: --threads and the user's --detector,
    --scales and --descriptors."""
    kept = ["--threads", str(threads)]
    for k, option in enumerate(options[:-1]):
        if option in ("--detector", "--scales", "--descriptors"):
            kept += [option, options[k + 1]]
    return kept


def probe_frame(video: pathlib.Path) -> tuple[int, int, int] | str:
    """(width, height, frames) of a video as ffprobe reads them, else ffprobe's error line."""
    try:
        result = subprocess.run(
            ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
             "stream=width,height,avg_frame_rate:format=duration", "-of", "default=nw=1",
             "--", str(video)], stdin=subprocess.DEVNULL, capture_output=True, text=True,
            errors="replace")
    except OSError as error:
        return f"cannot run ffprobe: {error.strerror}"
    values = dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)
    width, height = _whole(values.get("width")), _whole(values.get("height"))
    if result.returncode != 0 or width <= 0 or height <= 0:
        lines = [line for line in result.stderr.splitlines() if line.strip()]
        return lines[-1] if lines else "no video stream"
    rate = values.get("avg_frame_rate", "0/0").split("/")
    try:
        fps = float(rate[0]) / float(rate[1]) if len(rate) == 2 and float(rate[1]) > 0 else 0.0
        frames = int(float(values.get("duration", "0")) * fps)
    except ValueError:
        frames = 0
    return width, height, frames


def _whole(text: str | None) -> int:
    try:
        return int(text or "0")
    except ValueError:
        return 0


def memory_need_mb(stdetect: str, frame: tuple[int, int], options: Sequence[str]) -> int:
    """The memory a job needs, in MB: `stdetect --memory-need WxH` with `options`, plus a
    tenth and HEADROOM_MB. Raises DatasetError with stdetect's line when it cannot tell."""
    size = f"{frame[0]}x{frame[1]}"
    try:
        result = subprocess.run([stdetect, "--memory-need", size, *options],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                errors="replace")
    except OSError as error:
        raise DatasetError(f"cannot run {stdetect}: {error.strerror}") from None
    text = result.stdout.strip()
    if result.returncode != 0 or not text.isdigit():
        lines = [line for line in result.stderr.splitlines() if line.strip()]
        raise DatasetError(f"stdetect cannot tell the memory a {size} frame needs: "
                           f"{lines[-1] if lines else 'no number'}")
    return int(text) * 11 // 10 // 1048576 + HEADROOM_MB


def scale_pairs(options: Sequence[str]) -> int:
    """The scale pairs of the --scales given (ten by default)."""
    for k, option in enumerate(options[:-1]):
        if option == "--scales" and ":" in options[k + 1]:
            spatial, temporal = options[k + 1].split(":", 1)
            return (spatial.count(",") + 1) * (temporal.count(",") + 1)
    return 10


def videos_per_task(count: int, max_array: int, sampled: int, frames: int,
                    frame: tuple[int, int], pairs: int, cpus: int) -> int:
    """Videos per Slurm task: within the cluster's largest array, and each task about a
    minute of work or more (one 640x480 frame takes about 70 ms per scale pair and
    thread); `frames` is the sampled videos' total."""
    share = (count + max_array - 1) // max_array
    if sampled:
        video_ms = frames * frame[0] * frame[1] * pairs * 70 // sampled // 307200 // cpus + 1
        share = max(share, 60000 // video_ms)
    return max(1, min(share, count))


@dataclass
class Result:
    """One video's outcome. `status`: 'done', 'failed', 'interrupted' (stdetect stopped
    by a signal, nothing written) or 'not started'; `error` stdetect's error line (or
    the engine's reason); frames as stdetect read them and as the file announces them
    (0: unknown); `seconds` of detection; `log` the file holding stdetect's messages."""

    video: str
    output: str
    status: str = "not started"
    points: int = 0
    frames_read: int = 0
    frames_announced: int = 0
    seconds: float = 0.0
    error: str = ""
    warning: str = ""
    log: str = ""


def read_report(path: pathlib.Path) -> dict | None:
    """The JSON object `stdetect --report` wrote, or None when there is none."""
    try:
        report = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return None
    return report if isinstance(report, dict) else None


def apply_report(result: Result, report: dict | None) -> None:
    """Fills `result` from stdetect's report (see read_report)."""
    if report is None:
        return
    result.status = {"done": "done", "interrupted": "interrupted"}.get(report.get("status"), "failed")
    for name in ("points", "frames_read", "frames_announced"):
        setattr(result, name, int(report.get(name) or 0))
    result.seconds = float(report.get("seconds") or 0.0)
    if report.get("error"):
        result.error = "stdetect: " + str(report["error"])
    warning = str(report.get("warning") or "")
    if " ended after " in warning:
        result.warning = "ended after " + warning.split(" ended after ", 1)[1]


def count_points(path: pathlib.Path) -> int:
    """The records of a features file (its lines not starting with '#'; for the HDF5 form,
    its points' rows, when the compiled module is there to read them, else 0)."""
    try:
        with path.open("rb") as start:
            hdf5 = start.read(8) == b"\x89HDF\r\n\x1a\n"
        if hdf5:
            try:
                from stview import _core
            except ImportError:
                return 0
            return len(_core.read_features(str(path))[0])

        with path.open("rb") as lines:
            return sum(1 for line in lines if not line.startswith(b"#"))
    except (OSError, ValueError):
        return 0


@dataclass
class Summary:
    """What a run tells at its end (see lines())."""

    results: list[Result]
    skipped: int
    out_dir: pathlib.Path
    notes: list[str] = field(default_factory=list)
    interrupted: bool = False

    def lines(self) -> list[str]:
        """The report lines, without the 'detect-dataset: ' prefix."""
        done = [r for r in self.results if r.status == "done"]
        failed = [r for r in self.results if r.status == "failed"]
        stopped = [r for r in self.results if r.status == "interrupted"]
        waiting = sum(1 for r in self.results if r.status == "not started")
        points = sum(r.points for r in done)
        text = f"{len(done)} done, {len(failed)} failed, {self.skipped} skipped as already done"
        if stopped:
            text += f", {len(stopped)} interrupted"
        if waiting:
            text += f", {waiting} not started"
        lines = [f"{text}, {points} points written to {self.out_dir}"]
        lines += [f"failed: {r.video}: {r.error or 'stopped without an error line'}" for r in failed]
        lines += [f"interrupted: {r.video}" for r in stopped]
        lines += self.notes
        lines += [f"warning: {r.video}: {r.warning}" for r in done if r.warning]
        if self.interrupted:
            lines.append("interrupted; the same command goes on where this run stopped")
        return lines

    def status(self) -> int:
        """0 every video done, 1 some failed or not started, 130 interrupted."""
        if self.interrupted:
            return 130
        return 0 if all(r.status == "done" for r in self.results) else 1
