"""The evaluation's stages, from a dataset folder to OUT's results, and `predict`."""

from __future__ import annotations

import pathlib
import resource
import sys
import tempfile
import time
from dataclasses import dataclass

import numpy as np

from . import bof, classifier, dataset, detection, model
from .errors import BadArguments, Failed
from .output import write_atomically
from .report import Results, confusion_png

PROGRAM = "stview.evaluate"


def note(message: str) -> None:
    """One line of progress on standard error."""
    print(f"{PROGRAM}: {message}", file=sys.stderr, flush=True)


class Stage:
    """Reports one stage on standard error (a count redrawn in place on a terminal) and
    adds its time in seconds to `times`."""

    def __init__(self, name: str, times: dict[str, float], total: int = 0):
        self.name, self.times, self.total = name, times, total
        self.live = sys.stderr.isatty()

    def __enter__(self) -> "Stage":
        self.start = time.monotonic()
        note(f"{self.name}..." if not self.total else f"{self.name}: {self.total} videos...")
        return self

    def step(self, done: int) -> None:
        """Shows that `done` of `total` items are finished."""
        if self.live:
            print(f"\r{PROGRAM}: {self.name}: {done}/{self.total}", end="", file=sys.stderr, flush=True)

    def __exit__(self, kind, *_) -> None:
        seconds = time.monotonic() - self.start
        self.times[self.name] = self.times.get(self.name, 0.0) + seconds
        if self.live and self.total:
            print(file=sys.stderr)
        if kind is None:
            peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
            note(f"{self.name}: {seconds:.1f} s (peak memory so far {peak:.0f} MiB)")


@dataclass
class Settings:
    """The options of one evaluation (see the command's usage)."""

    dataset: pathlib.Path
    out: pathlib.Path
    split: str | None
    split_file: pathlib.Path | None
    test_fraction: float
    seed: int
    words: int
    sample: int
    channels: list[str]
    jobs: int | None
    detector_options: list[str]


def evaluate(settings: Settings) -> Results:
    """Runs every stage and writes OUT/results.json, OUT/confusion.png and OUT/model.
    Raises BadArguments or Failed (nothing written then but the features made so far)."""
    times: dict[str, float] = {}
    channels = settings.channels
    if not settings.dataset.is_dir():
        raise BadArguments(f"no dataset folder {settings.dataset}")
    videos = dataset.list_videos(settings.dataset)
    train, test = dataset.split_videos(videos, settings.split, settings.test_fraction, settings.seed,
                                       settings.split_file)
    classes = sorted({video.label for video in videos})
    untrained = sorted({video.label for video in test} - {video.label for video in train})
    if untrained:
        raise Failed(f"no training video of class {untrained[0]}"
                     + (f" (nor of {len(untrained) - 1} more)" if len(untrained) > 1 else ""))
    if len(classes) < 2:
        raise Failed(f"only one class ({classes[0]}): nothing to tell apart")
    detection.check_stdetect_options(settings.detector_options)
    try:
        settings.out.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise BadArguments(f"cannot make the folder {settings.out}: {error.strerror}") from None
    note(f"{len(videos)} videos of {len(classes)} classes: {len(train)} to train, {len(test)} to test")

    features_dir = settings.out / "features"
    names = dataset.features_names(videos, detection.features_format(settings.out))
    with Stage("features", times):
        created = detection.check_options(settings.out, settings.detector_options)
        try:
            ran = detection.detect_dataset(settings.dataset, features_dir, settings.detector_options,
                                           settings.jobs)
        except BadArguments:
            if created:  # options that stdetect refused make no features to keep apart
                (settings.out / detection.RECORD).unlink()
            raise
    failed = {video.path for video in videos if not (features_dir / names[video.path]).is_file()}
    stopped = [result.video for result in ran if result.status == "interrupted"]
    if stopped:  # stdetect stopped by a signal while this run went on
        note(f"interrupted, not failed: {', '.join(stopped)} (the same command detects again)")

    def read(video: dataset.Video) -> dict[str, np.ndarray] | None:
        if video.path in failed:
            return None
        try:
            return bof.read_descriptors(features_dir / names[video.path], channels)
        except (OSError, ValueError) as error:
            note(f"cannot read the features of {video.path}: {error}")
            failed.add(video.path)
            return None

    with Stage("sample", times, len(train)) as stage:
        sample = bof.DescriptorSample(settings.sample, settings.seed, channels)
        for index, video in enumerate(train):
            descriptors = read(video)
            if descriptors is not None:
                sample.add(index, descriptors)
            stage.step(index + 1)
    trained = [video for video in train if video.path not in failed]
    lost = sorted({video.label for video in train} - {video.label for video in trained})
    if lost:
        raise Failed(f"every training video of class {lost[0]} failed in detection")
    if sample.total < settings.words:
        fits = f"--words {sample.total} or fewer would fit" if sample.total else "no training video has a point"
        raise Failed(f"{sample.total} training descriptors, fewer than --words {settings.words}: {fits}")

    codebooks = {}
    with Stage("codebook", times):
        for channel, rows in sample.result().items():
            note(f"codebook: {settings.words} {channel.upper()} words from {len(rows)} descriptors")
            codebooks[channel] = bof.fit_codebook(rows, settings.words, settings.seed)
    del sample

    histograms: dict[str, dict[str, np.ndarray]] = {channel: {} for channel in channels}
    no_points = []
    with Stage("histograms", times, len(videos)) as stage:
        for done, video in enumerate(videos, 1):
            descriptors = read(video)
            if descriptors is not None:
                if len(descriptors[channels[0]]) == 0:
                    no_points.append(video.path)
                for channel in channels:
                    histograms[channel][video.path] = bof.histogram(codebooks[channel], descriptors[channel])
            stage.step(done)

    tested = [video for video in test if video.path not in failed]
    with Stage("training", times):
        train_rows = {ch: np.array([histograms[ch][v.path] for v in trained]) for ch in channels}
        train_distances = {ch: bof.chi2_distances(rows, rows) for ch, rows in train_rows.items()}
        labels = [video.label for video in trained]
        persons = [video.person for video in trained]
        groups = persons if all(person is not None for person in persons) else None
        c, scores = classifier.choose_c(train_distances, labels, groups, settings.seed)
        note(f"training: C = {c:g} (cross-validated accuracy "
             + ", ".join(f"{k:g}: {v:.3f}" for k, v in scores.items() if v is not None) + ")")
        fitted = classifier.fit(train_distances, labels, c)
        predicted: dict[str, str] = {}
        if tested:
            test_distances = {ch: bof.chi2_distances(np.array([histograms[ch][v.path] for v in tested]),
                                                     train_rows[ch]) for ch in channels}
            predicted = dict(zip((v.path for v in tested), map(str, fitted.predict(test_distances))))

    with Stage("results", times):
        options = {
            "channels": channels, "words": settings.words, "sample": settings.sample,
            "seed": settings.seed, "split": settings.split or "random",
            "test_fraction": settings.test_fraction if settings.split is None else None,
            "descriptors": detection.DESCRIPTORS, "detector_options": settings.detector_options,
        }
        results = Results(classes, [v.path for v in train], [v.path for v in test],
                          [v.label for v in test], [predicted.get(v.path) for v in test],
                          [v.path for v in videos if v.path in failed], no_points,
                          options, c, scores, times)
        model.save(model.Model(settings.detector_options, channels, codebooks, train_rows, fitted),
                   settings.out / "model")
        title = f"{'+'.join(ch.upper() for ch in channels)}: accuracy {results.accuracy():.1%}"
        write_atomically(settings.out / "confusion.png", confusion_png(classes, results.confusion(), title))
        write_atomically(settings.out / "results.json", results.to_json())
    write_atomically(settings.out / "report.txt", results.text())
    return results


def predict(out: pathlib.Path, videos: list[str]) -> int:
    """Prints 'VIDEO CLASS' for each video with OUT's model; 1 when any video failed."""
    saved = model.load(out / "model")
    status = 0
    with tempfile.TemporaryDirectory(prefix="stview-predict-") as scratch:
        for index, video in enumerate(videos):
            output = pathlib.Path(scratch, f"{index}.txt")
            error = detection.detect_video(pathlib.Path(video), output, saved.detector_options)
            descriptors = None
            if error is None:
                try:
                    descriptors = bof.read_descriptors(output, saved.channels)
                except (OSError, ValueError) as reason:
                    error = str(reason)
            if descriptors is None:
                note(f"{video}: {error}")
                status = 1
                continue
            print(f"{video} {saved.predict(descriptors)}", flush=True)
    return status
