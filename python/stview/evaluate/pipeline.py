"""The evaluation's stages, from a dataset folder to OUT's results, and `predict`."""

from __future__ import annotations

import pathlib
import resource
import sys
import tempfile
import time
from dataclasses import dataclass

import numpy as np

from . import bof, classifier, dataset, detection, fisher, model
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
    """The options of one evaluation (see the command's usage). `channels` None: all of
    the detector's; `words` is the bag of features' codebook size, `gaussians` the Fisher
    vectors' mixture size (the other is unused)."""

    dataset: pathlib.Path
    out: pathlib.Path
    split: str | None
    split_file: pathlib.Path | None
    test_fraction: float
    seed: int
    words: int
    sample: int
    channels: list[str] | None
    jobs: int | None
    detector_options: list[str]
    encoding: str = "bof"
    gaussians: int = 256


@dataclass
class Videos:
    """A dataset's videos (sorted by path), its split and its classes."""

    videos: list[dataset.Video]
    train: list[dataset.Video]
    test: list[dataset.Video]
    classes: list[str]


def list_dataset(settings: Settings) -> Videos:
    """The videos and split the settings name; BadArguments or Failed when they cannot be
    trained and tested on."""
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
    return Videos(videos, train, test, classes)


def detector_channels(options: list[str], channels: list[str] | None) -> list[str]:
    """The channels a run uses: `channels`, all of them among the detector's descriptors
    (BadArguments otherwise), or the detector's descriptors when None."""
    available = detection.descriptors_for(options).split(",")
    if channels is None:
        return available
    missing = [channel for channel in channels if channel not in available]
    if missing:
        raise BadArguments(f"--channels {','.join(channels)}: the {detection.detector_of(options)} "
                           f"detector's features have {','.join(available)}, not {missing[0]}")
    return [channel for channel in available if channel in channels]


class Features:
    """OUT/features of one detector: made (or completed) by `make`, read one video at a
    time by `read`, which notes and remembers the videos that cannot be read."""

    def __init__(self, data: pathlib.Path, out: pathlib.Path, options: list[str], videos: Videos):
        self.data, self.out, self.options, self.videos = data, out, options, videos
        self.folder = out / "features"
        self.names = dataset.features_names(videos.videos, detection.features_format(out))
        self.failed: set[str] = set()

    def make(self, jobs: int | None, times: dict[str, float]) -> list:
        """Detects every video without a features file; returns the dataset runner's
        results for the videos it ran."""
        with Stage("features", times):
            created = detection.check_options(self.out, self.options)
            try:
                ran = detection.detect_dataset(self.data, self.folder, self.options, jobs)
            except BadArguments:
                if created:  # options that stdetect refused make no features to keep apart
                    (self.out / detection.RECORD).unlink()
                raise
        self.failed = {video.path for video in self.videos.videos
                       if not (self.folder / self.names[video.path]).is_file()}
        stopped = [result.video for result in ran if result.status == "interrupted"]
        if stopped:  # stdetect stopped by a signal while this run went on
            note(f"interrupted, not failed: {', '.join(stopped)} (the same command detects again)")
        return ran

    def read(self, video: dataset.Video, channels: list[str]) -> dict[str, np.ndarray] | None:
        """{channel: float32 (N, D)} of one video, None when its detection failed or its
        file cannot be read (noted once)."""
        if video.path in self.failed:
            return None
        try:
            return bof.read_descriptors(self.folder / self.names[video.path], channels)
        except (OSError, ValueError) as error:
            note(f"cannot read the features of {video.path}: {error}")
            self.failed.add(video.path)
            return None

    def trained(self) -> list[dataset.Video]:
        """The training videos that have features; Failed when a class has none left."""
        train = self.videos.train
        trained = [video for video in train if video.path not in self.failed]
        lost = sorted({video.label for video in train} - {video.label for video in trained})
        if lost:
            raise Failed(f"every training video of class {lost[0]} failed in detection")
        return trained


def sample_descriptors(features: Features, channels: list[str], size: int, seed: int,
                       times: dict[str, float]) -> tuple[dict[str, np.ndarray], int]:
    """({channel: float32 (min(size, total), D)}, total): a seeded uniform sample of the
    training descriptors (bof.DescriptorSample), drawn in one pass over the files."""
    train = features.videos.train
    with Stage("sample", times, len(train)) as stage:
        sample = bof.DescriptorSample(size, seed, channels)
        for index, video in enumerate(train):
            descriptors = features.read(video, channels)
            if descriptors is not None:
                sample.add(index, descriptors)
            stage.step(index + 1)
        return sample.result(), sample.total


def fit_encoders(rows: dict[str, np.ndarray], total: int, encoding: str, size: int, seed: int,
                 times: dict[str, float]) -> dict:
    """{channel: a KMeans codebook of `size` words (bof) or a fisher.Encoder of `size`
    Gaussians (fisher)} on each channel's sample; Failed when the training set has fewer
    descriptors than `size`, naming the value that would fit."""
    option = "--words" if encoding == "bof" else "--gaussians"
    if total < size:
        fits = f"{option} {total} or fewer would fit" if total else "no training video has a point"
        raise Failed(f"{total} training descriptors, fewer than {option} {size}: {fits}")
    encoders = {}
    with Stage("codebook" if encoding == "bof" else "mixture", times):
        for channel, sample in rows.items():
            if encoding == "bof":
                note(f"codebook: {size} {channel.upper()} words from {len(sample)} descriptors")
                encoders[channel] = bof.fit_codebook(sample, size, seed)
            else:
                note(f"mixture: PCA to {sample.shape[1] // 2} and {size} Gaussians on "
                     f"{len(sample)} {channel.upper()} descriptors")
                encoders[channel] = fisher.fit_encoder(sample, size, seed)
    return encoders


def encode_videos(features: Features, encoders: dict, encoding: str,
                  times: dict[str, float]) -> tuple[dict[str, dict[str, np.ndarray]], list[str]]:
    """({channel: {video path: its histogram (float64) or Fisher vector (float32)}}, the
    videos with no point), one video's descriptors read at a time."""
    channels = list(encoders)
    vectors: dict[str, dict[str, np.ndarray]] = {channel: {} for channel in channels}
    no_points = []
    videos = features.videos.videos
    with Stage("histograms" if encoding == "bof" else "fisher vectors", times, len(videos)) as stage:
        for done, video in enumerate(videos, 1):
            descriptors = features.read(video, channels)
            if descriptors is not None:
                if len(descriptors[channels[0]]) == 0:
                    no_points.append(video.path)
                for channel in channels:
                    encoder = encoders[channel]
                    vectors[channel][video.path] = (bof.histogram(encoder, descriptors[channel])
                                                    if encoding == "bof" else encoder.encode(descriptors[channel]))
            stage.step(done)
    return vectors, no_points


def train_and_write(out: pathlib.Path, settings: Settings, videos: Videos, failed: set[str],
                    channels: list[str], encoders: dict, vectors: dict[str, dict[str, np.ndarray]],
                    no_points: list[str], times: dict[str, float]) -> Results:
    """Cross-validates C, trains on every training video with features, tests, and writes
    OUT/results.json, OUT/confusion.png, OUT/model and OUT/report.txt."""
    trained = [video for video in videos.train if video.path not in failed]
    tested = [video for video in videos.test if video.path not in failed]
    labels = [video.label for video in trained]
    persons = [video.person for video in trained]
    groups = persons if all(person is not None for person in persons) else None
    fisher_encoding = settings.encoding == "fisher"
    with Stage("training", times):
        predicted: dict[str, str] = {}
        if fisher_encoding:
            def stack(chosen: list[dataset.Video]) -> np.ndarray:
                return np.array([np.concatenate([vectors[ch][v.path] for ch in channels]) for v in chosen],
                                dtype=np.float32).reshape(len(chosen), -1)

            train_rows = None
            rows = stack(trained)
            known = np.asarray(labels)
            c, scores = classifier.cross_validate(
                lambda tr, te, c: fisher.fit_linear(rows[tr], known[tr], c, settings.seed).predict(rows[te]),
                labels, groups, settings.seed)
            fitted = fisher.fit_linear(rows, labels, c, settings.seed)
            if tested:
                predicted = dict(zip((v.path for v in tested), map(str, fitted.predict(stack(tested)))))
        else:
            train_rows = {ch: np.array([vectors[ch][v.path] for v in trained]) for ch in channels}
            train_distances = {ch: bof.chi2_distances(r, r) for ch, r in train_rows.items()}
            c, scores = classifier.choose_c(train_distances, labels, groups, settings.seed)
            fitted = classifier.fit(train_distances, labels, c)
            if tested:
                test_distances = {ch: bof.chi2_distances(np.array([vectors[ch][v.path] for v in tested]),
                                                         train_rows[ch]) for ch in channels}
                predicted = dict(zip((v.path for v in tested), map(str, fitted.predict(test_distances))))
        note(f"training: C = {c:g} (cross-validated accuracy "
             + ", ".join(f"{k:g}: {v:.3f}" for k, v in scores.items() if v is not None) + ")")

    with Stage("results", times):
        options = {
            "channels": channels, "encoding": settings.encoding,
            "words": None if fisher_encoding else settings.words,
            "gaussians": settings.gaussians if fisher_encoding else None, "sample": settings.sample,
            "seed": settings.seed, "split": settings.split or "random",
            "test_fraction": settings.test_fraction if settings.split is None else None,
            "descriptors": detection.descriptors_for(settings.detector_options),
            "detector_options": settings.detector_options,
        }
        results = Results(videos.classes, [v.path for v in videos.train], [v.path for v in videos.test],
                          [v.label for v in videos.test], [predicted.get(v.path) for v in videos.test],
                          [v.path for v in videos.videos if v.path in failed], no_points,
                          options, c, scores, times)
        model.save(model.Model(settings.detector_options, channels, {ch: encoders[ch] for ch in channels},
                               train_rows, fitted, settings.encoding), out / "model")
        encoding = f"Fisher vectors, K = {settings.gaussians}" if fisher_encoding else f"{settings.words} words"
        title = f"{'+'.join(ch.upper() for ch in channels)} ({encoding}): accuracy {results.accuracy():.1%}"
        write_atomically(out / "confusion.png", confusion_png(videos.classes, results.confusion(), title))
        write_atomically(out / "results.json", results.to_json())
    write_atomically(out / "report.txt", results.text())
    return results


def evaluate(settings: Settings) -> Results:
    """Runs every stage and writes OUT/results.json, OUT/confusion.png and OUT/model.
    Raises BadArguments or Failed (nothing written then but the features made so far)."""
    times: dict[str, float] = {}
    videos = list_dataset(settings)
    detection.check_stdetect_options(settings.detector_options)
    channels = detector_channels(settings.detector_options, settings.channels)
    try:
        settings.out.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise BadArguments(f"cannot make the folder {settings.out}: {error.strerror}") from None
    note(f"{len(videos.videos)} videos of {len(videos.classes)} classes: {len(videos.train)} to train, "
         f"{len(videos.test)} to test")
    features = Features(settings.dataset, settings.out, settings.detector_options, videos)
    features.make(settings.jobs, times)
    rows, total = sample_descriptors(features, channels, settings.sample, settings.seed, times)
    features.trained()
    size = settings.gaussians if settings.encoding == "fisher" else settings.words
    encoders = fit_encoders(rows, total, settings.encoding, size, settings.seed, times)
    del rows
    vectors, no_points = encode_videos(features, encoders, settings.encoding, times)
    return train_and_write(settings.out, settings, videos, features.failed, channels, encoders, vectors,
                           no_points, times)


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
