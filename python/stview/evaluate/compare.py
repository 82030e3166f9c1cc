"""`python3 -m stview.evaluate compare`: every detector, channel and encoding on one dataset.

Each detector's features are made once (OUT/<detector>/features); each of its channels is
sampled once and gets one codebook and one PCA and mixture, kept with every video's
histogram or Fisher vector in OUT/<detector>/encoded/<channel>-<encoding>.pickle; then
every channel alone and all of them together, under each encoding, is a full run into
OUT/<detector>/<channels>-<encoding>/. A rerun reuses every features file, encoding and run
it finds, so an interrupted comparison goes on where it stopped. The runs are tabled in
OUT/comparison.json, OUT/comparison.md and OUT/comparison.png."""

from __future__ import annotations

import dataclasses
import io
import json
import pathlib
import pickle
import shlex
from dataclasses import dataclass

import numpy as np

from . import detection
from .errors import BadArguments, EvaluationError, Failed
from .output import write_atomically
from .pipeline import (PROGRAM, Features, Settings, Videos, detector_channels, encode_videos,
                       fit_encoders, list_dataset, note, sample_descriptors, train_and_write)

DETECTORS = ("harris", "gabor", "hessian", "dense", "trajectories")
RECORD = "compare-options.json"
# Table rows: each channel alone, then all of a detector's channels together.
ROWS = ("trajectory", "hog", "hof", "mbh", "combined")
ROW_TITLES = {"trajectory": "Trajectory", "hog": "HOG", "hof": "HOF", "mbh": "MBH",
              "combined": "all channels"}


@dataclass
class Request:
    """A comparison: the run options (`settings`; its encoding and detector options unused),
    the detectors (`named`: given by the user, so one stdetect lacks is an error rather
    than skipped), the encodings and each detector's own stdetect options."""

    settings: Settings
    detectors: list[str]
    named: bool
    encodings: list[str]
    options: dict[str, list[str]]


def parse_compare(argv: list[str]) -> Request:
    """A Request from the arguments after `compare`; BadArguments when they cannot work."""
    from .cli import USAGE, _checked, _encodings, _name_list, _Parser, add_run_options, run_settings

    parser = _Parser(prog=f"python3 -m {PROGRAM} compare", usage=USAGE)
    add_run_options(parser)
    parser.add_argument("--detectors", type=_checked(_name_list(DETECTORS), lambda value: True,
                                                     "some of " + ",".join(DETECTORS)))
    parser.add_argument("--encodings", type=_encodings, default=["bof", "fisher"])
    parser.add_argument("--options", action="append", default=[], metavar='DETECTOR="OPTIONS"')
    args = parser.parse_args(argv)
    detectors = args.detectors or list(DETECTORS)
    options: dict[str, list[str]] = {}
    for given in args.options:
        name, _, text = given.partition("=")
        if name not in DETECTORS or not _:
            raise BadArguments(f"--options {given!r}: needs DETECTOR=\"STDETECT OPTIONS\", DETECTOR one "
                               f"of {','.join(DETECTORS)}")
        if name not in detectors:
            raise BadArguments(f"--options {name}=...: {name} is not among the detectors compared")
        try:
            words = shlex.split(text)
        except ValueError as error:
            raise BadArguments(f"--options {name}=...: {error}") from None
        for word in words:
            for refused in ("--detector", "--descriptors"):
                if word == refused or word.startswith(refused + "="):
                    raise BadArguments(f"--options {name}=...: {refused} is set by the comparison")
        options[name] = options.get(name, []) + words
    settings = run_settings(args, args.encodings, None, [])
    return Request(settings, detectors, args.detectors is not None, args.encodings, options)


def _stdetect_options(request: Request, detector: str) -> list[str]:
    return ["--detector", detector, *request.options.get(detector, [])]


def _usable(request: Request) -> list[str]:
    """The detectors to compare: each one's options checked by stdetect. One this stdetect
    does not have is skipped with a note unless the user named it."""
    usable = []
    for detector in request.detectors:
        try:
            detection.check_stdetect_options(["--detector", detector])
        except BadArguments as error:
            if request.named:
                raise BadArguments(f"--detectors {detector}: {str(error).split(': ', 1)[-1]}") from None
            note(f"{detector}: skipped, this stdetect does not have it")
            continue
        try:
            detection.check_stdetect_options(_stdetect_options(request, detector))
        except BadArguments as error:
            raise BadArguments(f"--options {detector}=...: {str(error).split(': ', 1)[-1]}") from None
        usable.append(detector)
    return usable


def _check_record(out: pathlib.Path, settings: Settings, videos: Videos) -> None:
    """Records the options every run in OUT shares; a later comparison must give the same
    (runs made with other options are never tabled together)."""
    wanted = {"split": settings.split or "random", "test_videos": [v.path for v in videos.test],
              "seed": settings.seed, "words": settings.words, "gaussians": settings.gaussians,
              "sample": settings.sample}
    record = out / RECORD
    if record.exists():
        try:
            made = json.loads(record.read_text(encoding="utf-8"))
        except (OSError, ValueError) as error:
            raise Failed(f"cannot read {record}: {error}") from None
        if made != wanted:
            changed = next(key for key in wanted if made.get(key) != wanted[key])
            raise BadArguments(f"{out} holds a comparison with another {changed.replace('_', ' ')} "
                               f"({made.get(changed)!r} there): give the same options, or another OUT")
        return
    write_atomically(record, json.dumps(wanted, indent=2) + "\n")


def _run_name(channels: list[str], encoding: str) -> str:
    return f"{'+'.join(channels)}-{encoding}"


def _channel_sets(channels: list[str]) -> list[list[str]]:
    return [[channel] for channel in channels] + ([channels] if len(channels) > 1 else [])


def _load_encoded(path: pathlib.Path) -> dict | None:
    """A saved encoding made by this version of scikit-learn, or None."""
    import sklearn

    try:
        saved = pickle.loads(path.read_bytes())
    except Exception:  # noqa: BLE001 - missing or broken: made again
        return None
    return saved if isinstance(saved, dict) and saved.get("sklearn") == sklearn.__version__ else None


def _encodings_of(features: Features, folder: pathlib.Path, settings: Settings,
                  wanted: dict[str, list[str]], times: dict[str, float]) -> dict[tuple[str, str], dict]:
    """{(channel, encoding): {"encoder", "vectors", "no_points"}} for each encoding's
    channels in `wanted`: read from `folder` or made (one sample for every channel, one
    fit per channel and encoding, one pass over the videos per encoding) and saved there."""
    import sklearn

    encoded: dict[tuple[str, str], dict] = {}
    for encoding, channels in wanted.items():
        for channel in channels:
            saved = _load_encoded(folder / f"{channel}-{encoding}.pickle")
            if saved is not None:
                encoded[channel, encoding] = saved
    missing = {encoding: [ch for ch in channels if (ch, encoding) not in encoded]
               for encoding, channels in wanted.items()}
    order = detection.descriptors_for(features.options).split(",")
    needed = sorted({ch for channels in missing.values() for ch in channels}, key=order.index)
    if not needed:
        return encoded
    rows, total = sample_descriptors(features, needed, settings.sample, settings.seed, times)
    features.trained()
    folder.mkdir(exist_ok=True)
    for encoding, channels in missing.items():
        if not channels:
            continue
        size = settings.words if encoding == "bof" else settings.gaussians
        encoders = fit_encoders({ch: rows[ch] for ch in channels}, total, encoding, size, settings.seed, times)
        vectors, no_points = encode_videos(features, encoders, encoding, times)
        for channel in channels:
            saved = {"sklearn": sklearn.__version__, "encoder": encoders[channel],
                     "vectors": vectors[channel], "no_points": no_points}
            write_atomically(folder / f"{channel}-{encoding}.pickle", pickle.dumps(saved))
            encoded[channel, encoding] = saved
    return encoded


def _detection_record(folder: pathlib.Path, ran: list) -> dict[str, dict]:
    """{video: {"seconds", "points"}} of every video detected into `folder` by this or an
    earlier comparison (OUT/<detector>/detection.json, updated with `ran`)."""
    path = folder / "detection.json"
    try:
        record = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError):
        record = {}
    for result in ran:
        if result.status == "done":
            record[result.video] = {"seconds": result.seconds, "points": result.points}
    write_atomically(path, json.dumps(record, indent=1, sort_keys=True) + "\n")
    return record


def compare(request: Request) -> int:
    """Runs the comparison and writes its tables; 0 when every run was made, 1 when some
    failed (each noted; the others are tabled)."""
    settings = request.settings
    videos = list_dataset(settings)
    detectors = _usable(request)
    if not detectors:
        raise Failed("no detector to compare")
    try:
        settings.out.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise BadArguments(f"cannot make the folder {settings.out}: {error.strerror}") from None
    _check_record(settings.out, settings, videos)
    plan = {detector: detector_channels(_stdetect_options(request, detector), None) for detector in detectors}
    total = sum(len(_channel_sets(channels)) for channels in plan.values()) * len(request.encodings)
    note(f"{len(videos.videos)} videos of {len(videos.classes)} classes; {len(detectors)} detectors, "
         f"{total} runs")
    done, failures = 0, 0
    detected: dict[str, dict] = {}
    for number, detector in enumerate(detectors, 1):
        options = _stdetect_options(request, detector)
        folder = settings.out / detector
        folder.mkdir(exist_ok=True)
        note(f"{detector} (detector {number} of {len(detectors)}): features")
        features = Features(settings.dataset, folder, options, videos)
        ran = features.make(settings.jobs, {})
        detected[detector] = _detection_record(folder, ran)
        runs = [(channels, encoding) for encoding in request.encodings for channels in _channel_sets(plan[detector])]
        todo = [(chs, enc) for chs, enc in runs if not (folder / _run_name(chs, enc) / "results.json").is_file()]
        done += len(runs) - len(todo)
        if not todo:
            continue
        wanted: dict[str, list[str]] = {}
        for channels, encoding in todo:
            wanted.setdefault(encoding, [])
            wanted[encoding] += [ch for ch in channels if ch not in wanted[encoding]]
        try:
            encoded = _encodings_of(features, folder / "encoded", settings, wanted, {})
        except Failed as error:
            note(f"{detector}: {error}")
            failures += len(todo)
            continue
        for channels, encoding in todo:
            done += 1
            name = _run_name(channels, encoding)
            note(f"run {done} of {total}: {detector} {name}")
            vectors = {ch: encoded[ch, encoding]["vectors"] for ch in channels}
            failed = {video.path for video in videos.videos if video.path not in vectors[channels[0]]}
            run = dataclasses.replace(settings, encoding=encoding, channels=channels, detector_options=options,
                                      out=folder / name)
            run.out.mkdir(exist_ok=True)
            try:
                results = train_and_write(run.out, run, videos, failed, channels,
                                          {ch: encoded[ch, encoding]["encoder"] for ch in channels},
                                          vectors, encoded[channels[0], encoding]["no_points"], {})
            except EvaluationError as error:
                note(f"{detector} {name}: {error}")
                failures += 1
                continue
            note(f"{detector} {name}: accuracy {results.accuracy():.4f}")
    table = _table(settings.out, detectors, plan, request.encodings, detected)
    write_atomically(settings.out / "comparison.json", json.dumps(table, indent=2) + "\n")
    write_atomically(settings.out / "comparison.md", _markdown(table))
    write_atomically(settings.out / "comparison.png", _heat_map(table))
    print(_markdown(table), end="")
    if failures:
        note(f"{failures} of {total} runs failed (noted above); the others are in the tables")
    return 1 if failures else 0


def _table(out: pathlib.Path, detectors: list[str], plan: dict[str, list[str]], encodings: list[str],
           detected: dict[str, dict]) -> dict:
    """comparison.json's content: one row per detector, channels and encoding made, and
    each detector's detection time and points per video."""
    rows = []
    for detector in detectors:
        for encoding in encodings:
            for channels in _channel_sets(plan[detector]):
                path = out / detector / _run_name(channels, encoding) / "results.json"
                try:
                    results = json.loads(path.read_text(encoding="utf-8"))
                except (OSError, ValueError):
                    continue
                rows.append({"detector": detector, "channels": channels, "encoding": encoding,
                             "accuracy": results["accuracy"], "per_class": results["per_class"],
                             "C": results["C"]})
    summary = {}
    for detector in detectors:
        record = detected.get(detector, {})
        count = len(record)
        summary[detector] = {
            "videos_timed": count,
            "seconds_per_video": sum(v["seconds"] for v in record.values()) / count if count else None,
            "points_per_video": sum(v["points"] for v in record.values()) / count if count else None,
        }
    return {"detectors": summary, "runs": rows}


def _row(channels: list[str]) -> str:
    return "combined" if len(channels) > 1 else channels[0]


def _grid(table: dict, encoding: str) -> tuple[list[str], list[str], np.ndarray]:
    """(row names, detectors, accuracies (rows, detectors), NaN where no run)."""
    detectors = list(table["detectors"])
    cells = {(_row(run["channels"]), run["detector"]): run["accuracy"]
             for run in table["runs"] if run["encoding"] == encoding}
    names = [row for row in ROWS if any((row, d) in cells for d in detectors)]
    grid = np.full((len(names), len(detectors)), np.nan)
    for (row, detector), accuracy in cells.items():
        grid[names.index(row), detectors.index(detector)] = accuracy
    return names, detectors, grid


ENCODING_TITLES = {"bof": "Bag of features (chi-squared SVM)", "fisher": "Fisher vectors (linear SVM)"}


def _markdown(table: dict) -> str:
    """comparison.md: one table per encoding, channels down, detectors across, accuracies in
    per cent; then each detector's detection time and points per video."""
    out = io.StringIO()
    encodings = [e for e in ENCODING_TITLES if any(run["encoding"] == e for run in table["runs"])]
    for encoding in encodings:
        names, detectors, grid = _grid(table, encoding)
        out.write(f"### {ENCODING_TITLES[encoding]}\n\n| channels | " + " | ".join(detectors) + " |\n")
        out.write("|---" * (len(detectors) + 1) + "|\n")
        for name, row in zip(names, grid):
            out.write(f"| {ROW_TITLES[name]} | "
                      + " | ".join("–" if np.isnan(a) else f"{100 * a:.1f} %" for a in row) + " |\n")
        out.write("\n")
    detectors = table["detectors"]
    out.write("| detector | " + " | ".join(detectors) + " |\n" + "|---" * (len(detectors) + 1) + "|\n")
    for key, title, form in (("seconds_per_video", "detection, s per video", "{:.2f}"),
                             ("points_per_video", "points per video", "{:.0f}")):
        out.write(f"| {title} | " + " | ".join("–" if d[key] is None else form.format(d[key])
                                               for d in detectors.values()) + " |\n")
    out.write("\nall channels: HOG + HOF for the point detectors; trajectory + HOG + HOF + MBH for "
              "trajectories.\n")
    return out.getvalue()


def _heat_map(table: dict) -> bytes:
    """comparison.png: one heat map of the accuracies per encoding (channels down, detectors
    across), each cell holding its accuracy in per cent."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    encodings = [e for e in ENCODING_TITLES if any(run["encoding"] == e for run in table["runs"])] or ["bof"]
    figure, axes = plt.subplots(1, len(encodings), figsize=(1.6 + 3.2 * len(encodings) + 0.9 *
                                                             len(table["detectors"]) * len(encodings) / 2, 3.8),
                                dpi=100, squeeze=False, layout="constrained")
    image = None
    for axis, encoding in zip(axes[0], encodings):
        names, detectors, grid = _grid(table, encoding)
        image = axis.imshow(np.ma.masked_invalid(grid), cmap="viridis", vmin=0.0, vmax=1.0, aspect="auto")
        for r in range(grid.shape[0]):
            for c in range(grid.shape[1]):
                if not np.isnan(grid[r, c]):
                    axis.text(c, r, f"{100 * grid[r, c]:.1f}", ha="center", va="center",
                              color="black" if grid[r, c] > 0.6 else "white")
        axis.set_xticks(range(len(detectors)), labels=detectors, rotation=30, ha="right", rotation_mode="anchor")
        axis.set_yticks(range(len(names)), labels=[ROW_TITLES[n] for n in names])
        axis.set_title(ENCODING_TITLES[encoding], fontsize=10)
    if image is not None:
        figure.colorbar(image, ax=list(axes[0]), fraction=0.046, pad=0.04, label="accuracy")
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", metadata={"Software": None})
    plt.close(figure)
    return buffer.getvalue()
