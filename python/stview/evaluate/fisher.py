"""Fisher vectors: a PCA and a diagonal Gaussian mixture per channel, fitted on the channel's
descriptor sample, and each video's gradient statistics with respect to the mixture's means
and standard deviations, power and L2 normalised."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

# Descriptors reduced and given to the mixture at once: K posteriors each, so about 16 MB
# of float64 per thousand Gaussians.
CHUNK = 2048


@dataclass
class Encoder:
    """One channel's fitted sklearn PCA (to half the descriptor's width) and diagonal
    GaussianMixture on the reduced descriptors."""

    pca: object
    mixture: object

    @property
    def gaussians(self) -> int:
        return int(self.mixture.n_components)

    @property
    def length(self) -> int:
        """Numbers in one video's vector: 2 K d, d the reduced width."""
        return 2 * self.gaussians * int(self.pca.n_components_)

    def encode(self, descriptors: np.ndarray) -> np.ndarray:
        """The Fisher vector of one video's descriptors (float32 (N, D)): float32 (2 K d,),
        (u_1 ... u_K, v_1 ... v_K) with each u_k and v_k d numbers, then sign(z) sqrt|z| and
        unit L2 length; all zeros when N is 0. Reads CHUNK descriptors at a time."""
        mixture = self.mixture
        means = mixture.means_  # (K, d)
        deviations = np.sqrt(mixture.covariances_)  # (K, d): diagonal covariances
        count = len(descriptors)
        zeroth = np.zeros(self.gaussians)
        first = np.zeros(means.shape)
        second = np.zeros(means.shape)
        for start in range(0, count, CHUNK):
            reduced = self.pca.transform(np.asarray(descriptors[start:start + CHUNK], np.float64))
            posteriors = mixture.predict_proba(reduced)  # (n, K)
            zeroth += posteriors.sum(axis=0)
            first += posteriors.T @ reduced
            second += posteriors.T @ (reduced * reduced)
        if count == 0:
            return np.zeros(self.length, np.float32)
        # sum_n g_nk (x_n - m_k) and sum_n g_nk (x_n - m_k)^2 from the three sums.
        centred = first - zeroth[:, None] * means
        squared = second - 2.0 * means * first + zeroth[:, None] * means * means
        weights = mixture.weights_[:, None]
        u = centred / deviations / (count * np.sqrt(weights))
        v = (squared / (deviations * deviations) - zeroth[:, None]) / (count * np.sqrt(2.0 * weights))
        vector = np.concatenate([u.ravel(), v.ravel()])
        vector = np.sign(vector) * np.sqrt(np.abs(vector))
        norm = np.linalg.norm(vector)
        return (vector / norm if norm > 0 else vector).astype(np.float32)


def fit_encoder(sample: np.ndarray, gaussians: int, seed: int) -> Encoder:
    """PCA(n_components=D // 2) and GaussianMixture(gaussians, diagonal, at most 100
    iterations), both seeded, on `sample` (float32 (n, D), n >= gaussians) taken as float64
    (float32 input gives other bits)."""
    from sklearn.decomposition import PCA
    from sklearn.mixture import GaussianMixture

    rows = np.asarray(sample, np.float64)
    pca = PCA(n_components=rows.shape[1] // 2, random_state=seed).fit(rows)
    mixture = GaussianMixture(n_components=gaussians, covariance_type="diag", max_iter=100,
                              random_state=seed).fit(pca.transform(rows))
    return Encoder(pca, mixture)


@dataclass
class LinearClassifier:
    """A fitted one-vs-rest linear SVM on the videos' vectors."""

    svm: object

    def predict(self, vectors: np.ndarray) -> np.ndarray:
        """Classes of the videos whose vectors (m, length) are given."""
        return self.svm.predict(vectors)


def fit_linear(vectors: np.ndarray, labels, c: float, seed: int) -> LinearClassifier:
    """LinearSVC(C=c, max_iter=10000, random_state=seed), one-vs-rest, on `vectors`
    (n, length)."""
    from sklearn.svm import LinearSVC

    return LinearClassifier(LinearSVC(C=c, max_iter=10000, random_state=seed).fit(vectors, np.asarray(labels)))
