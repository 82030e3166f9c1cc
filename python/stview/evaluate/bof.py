"""Bag of features: descriptor samples, k-means codebooks, word histograms, and the
multi-channel chi-squared kernel between histograms."""

from __future__ import annotations

import pathlib
from typing import Mapping, Sequence

import numpy as np

# Descriptors given to the codebook at once when assigning words: about 30 MB of
# distances per thousand words.
CHUNK = 8192


def read_descriptors(path: pathlib.Path, channels: Sequence[str]) -> dict[str, np.ndarray]:
    """The descriptors of one features file: {channel: float32 (N, 72) for HOG, (N, 90) for HOF}.
    Raises OSError or ValueError for a file that cannot be read or lacks a channel."""
    import stview

    features = stview.read_features(path)
    descriptors = {}
    for channel in channels:
        values = getattr(features, channel)
        if values is None:
            raise ValueError(f"{path.name} has no {channel.upper()} descriptors")
        descriptors[channel] = np.asarray(values, dtype=np.float32)
    return descriptors


class DescriptorSample:
    """A uniform random sample of at most `size` descriptors, without replacement, over the
    descriptors of many videos, kept in one pass: each descriptor gets a random key (seeded
    by `seed` and its video's index) and the `size` smallest keys stay. So the sample does
    not depend on the order the videos come in, and never holds more than 2 x `size` rows."""

    def __init__(self, size: int, seed: int, channels: Sequence[str]):
        self.size, self.seed, self.total = size, seed, 0
        self.keys = np.empty(0)
        self.rows = {channel: [] for channel in channels}
        self.pending: list[np.ndarray] = []

    def add(self, index: int, descriptors: Mapping[str, np.ndarray]) -> None:
        """Offers the descriptors of video number `index` (rows aligned across channels)."""
        count = len(next(iter(descriptors.values())))
        self.total += count
        self.pending.append(np.random.default_rng([self.seed, index]).random(count))
        for channel, rows in self.rows.items():
            rows.append(descriptors[channel])
        if sum(len(keys) for keys in self.pending) > self.size:
            self._shrink()

    def _shrink(self) -> None:
        keys = np.concatenate([self.keys, *self.pending])
        keep = np.argsort(keys, kind="stable")[:self.size]
        self.keys, self.pending = keys[keep], []
        for channel, rows in self.rows.items():
            self.rows[channel] = [np.concatenate(rows)[keep]]

    def result(self) -> dict[str, np.ndarray]:
        """{channel: float32 (min(size, total), dimensions)}, ordered by key."""
        self._shrink()
        return {channel: rows[0] for channel, rows in self.rows.items()}


def fit_codebook(sample: np.ndarray, words: int, seed: int):
    """A fitted sklearn KMeans of `words` clusters on `sample` (float32, (n, dimensions),
    n >= words): one k-means++ start, at most 100 iterations, seeded."""
    from sklearn.cluster import KMeans

    return KMeans(n_clusters=words, n_init=1, max_iter=100, random_state=seed).fit(sample)


def histogram(codebook, descriptors: np.ndarray) -> np.ndarray:
    """How many of `descriptors` (float32 (N, dimensions)) fall nearest each word of the
    fitted KMeans `codebook`, divided by N: float64 (words,), all zeros when N is 0."""
    counts = np.zeros(codebook.n_clusters)
    for start in range(0, len(descriptors), CHUNK):
        words = codebook.predict(descriptors[start:start + CHUNK])
        counts += np.bincount(words, minlength=codebook.n_clusters)
    return counts / len(descriptors) if len(descriptors) else counts


def chi2_distances(x: np.ndarray, y: np.ndarray) -> np.ndarray:
    """D(a, b) = 1/2 sum_i (a_i - b_i)^2 / (a_i + b_i), 0/0 taken as 0, for every row a of x
    (m, words) and b of y (n, words), both non-negative: float64 (m, n)."""
    from sklearn.metrics.pairwise import additive_chi2_kernel

    return -0.5 * additive_chi2_kernel(np.asarray(x, np.float64), np.asarray(y, np.float64))


def mean_distance(distances: np.ndarray) -> float:
    """The mean of a square matrix of distances between n >= 2 videos over pairs of distinct
    videos (the diagonal is zero); 1.0 when that mean is 0 (all histograms alike), so that
    dividing by it is always defined."""
    n = len(distances)
    mean = float(distances.sum()) / (n * (n - 1)) if n > 1 else 0.0
    return mean if mean > 0 else 1.0


def chi2_kernel(distances: Mapping[str, np.ndarray], means: Mapping[str, float]) -> np.ndarray:
    """K(a, b) = exp(-sum_c D_c(a, b) / A_c) from each channel's distances and mean A_c."""
    return np.exp(-sum(distances[channel] / means[channel] for channel in distances))
