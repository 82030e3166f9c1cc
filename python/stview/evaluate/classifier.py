"""The SVM on the multi-channel chi-squared kernel, with C chosen by cross-validation."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable, Mapping, Sequence

import numpy as np

from .bof import chi2_kernel, mean_distance

C_VALUES = (0.1, 1.0, 10.0, 100.0, 1000.0)
FOLDS = 5
# C when there are too few training videos per class to cross-validate.
FALLBACK_C = 100.0


@dataclass
class Classifier:
    """A fitted one-vs-rest SVM and each channel's mean training distance A_c."""

    svm: object
    means: dict[str, float]

    def predict(self, distances: Mapping[str, np.ndarray]) -> np.ndarray:
        """Classes of the videos whose distances to every training video (m, n) are given."""
        return self.svm.predict(chi2_kernel(distances, self.means))


def fit(distances: Mapping[str, np.ndarray], labels: Sequence[str], c: float) -> Classifier:
    """OneVsRestClassifier(SVC(kernel="precomputed", C=c)) on the kernel of the square
    training `distances` (n, n) per channel, A_c their mean over distinct pairs."""
    from sklearn.multiclass import OneVsRestClassifier
    from sklearn.svm import SVC

    means = {channel: mean_distance(d) for channel, d in distances.items()}
    svm = OneVsRestClassifier(SVC(kernel="precomputed", C=c))
    svm.fit(chi2_kernel(distances, means), np.asarray(labels))
    return Classifier(svm, means)


def choose_c(distances: Mapping[str, np.ndarray], labels: Sequence[str],
             groups: Sequence[int] | None, seed: int) -> tuple[float, dict[float, float | None]]:
    """(C, {C: cross-validated accuracy}) for the chi-squared SVM on the square training
    `distances` (see cross_validate). Each fold computes its own A_c from its own training
    part."""
    labels = np.asarray(labels)

    def fold(train, test, c):
        model = fit({ch: d[np.ix_(train, train)] for ch, d in distances.items()}, labels[train], c)
        return model.predict({ch: d[np.ix_(test, train)] for ch, d in distances.items()})

    return cross_validate(fold, labels, groups, seed)


def cross_validate(fold: Callable[[np.ndarray, np.ndarray, float], np.ndarray], labels: Sequence[str],
                   groups: Sequence[int] | None, seed: int) -> tuple[float, dict[float, float | None]]:
    """(C, {C: cross-validated accuracy}): the C of C_VALUES with the best accuracy over five
    folds of the training videos (the smallest such C on a tie); `fold(train, test, c)`
    fits on the training indices and returns the classes predicted for the test indices.
    With `groups` (KTH's persons), GroupKFold keeps each group in one fold; otherwise
    StratifiedKFold, shuffled with `seed`. With too few videos to fold, FALLBACK_C and no
    accuracies."""
    from sklearn.model_selection import GroupKFold, StratifiedKFold

    labels = np.asarray(labels)
    placeholder = np.zeros((len(labels), 1))
    if groups is not None and len(set(groups)) >= 2:
        folds = list(GroupKFold(n_splits=min(FOLDS, len(set(groups)))).split(placeholder, labels, groups))
    else:
        smallest = min(np.unique(labels, return_counts=True)[1])
        if smallest < 2:
            return FALLBACK_C, {c: None for c in C_VALUES}
        splitter = StratifiedKFold(n_splits=min(FOLDS, smallest), shuffle=True, random_state=seed)
        folds = list(splitter.split(placeholder, labels))
    scores: dict[float, float | None] = {}
    for c in C_VALUES:
        correct = 0
        for train, test in folds:
            correct += int((fold(train, test, c) == labels[test]).sum())
        scores[c] = correct / len(labels)
    best = max(C_VALUES, key=lambda c: (scores[c], -c))
    return best, scores
