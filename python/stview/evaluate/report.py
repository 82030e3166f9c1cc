"""What an evaluation leaves: results.json, confusion.png and the text report."""

from __future__ import annotations

import io
import json
from dataclasses import dataclass, field
from typing import Sequence

import numpy as np


@dataclass
class Results:
    """The outcome on the test videos; `predicted` holds None for a video whose detection
    failed (counted wrong)."""

    classes: list[str]
    train_videos: list[str]
    test_videos: list[str]
    true: list[str]
    predicted: list[str | None]
    failed: list[str]
    no_points: list[str]
    options: dict
    c: float
    cross_validation: dict[float, float | None]
    times: dict[str, float] = field(default_factory=dict)

    def accuracy(self) -> float:
        """Correct test videos over all test videos (0 without any)."""
        correct = sum(t == p for t, p in zip(self.true, self.predicted))
        return correct / len(self.true) if self.true else 0.0

    def per_class(self) -> dict[str, float | None]:
        """{class: accuracy on its test videos, None without any}."""
        result = {}
        for label in self.classes:
            hits = [t == p for t, p in zip(self.true, self.predicted) if t == label]
            result[label] = sum(hits) / len(hits) if hits else None
        return result

    def confusion(self) -> np.ndarray:
        """Counts (classes, classes): rows the true class, columns the predicted one, over
        the test videos that have a prediction."""
        index = {label: i for i, label in enumerate(self.classes)}
        matrix = np.zeros((len(self.classes), len(self.classes)), dtype=np.int64)
        for t, p in zip(self.true, self.predicted):
            if p is not None:
                matrix[index[t], index[p]] += 1
        return matrix

    def to_json(self) -> str:
        """results.json: the same text for the same outcome (no time, date or absolute path)."""
        document = {
            "accuracy": self.accuracy(),
            "classes": self.classes,
            "per_class": self.per_class(),
            "confusion": self.confusion().tolist(),
            "train_videos": self.train_videos,
            "test_videos": self.test_videos,
            "failed": self.failed,
            "no_points": self.no_points,
            "C": self.c,
            "cross_validation": {repr(c): score for c, score in self.cross_validation.items()},
            "options": self.options,
        }
        return json.dumps(document, indent=2, ensure_ascii=False) + "\n"

    def text(self) -> str:
        """The report printed at the end: accuracy, per-class accuracy, the confusion matrix
        as a table, the failed videos and those with no point, and each stage's time."""
        out = io.StringIO()
        correct = sum(t == p for t, p in zip(self.true, self.predicted))
        out.write(f"accuracy {self.accuracy():.4f} ({correct} of {len(self.true)} test videos; "
                  f"{len(self.train_videos)} training videos; C = {self.c:g})\n")
        width = max(len(label) for label in self.classes)
        counts = {label: self.true.count(label) for label in self.classes}
        out.write("per class:\n")
        for label, accuracy in self.per_class().items():
            shown = "  -   " if accuracy is None else f"{accuracy:.4f}"
            out.write(f"  {label:<{width}}  {shown}  ({counts[label]} test videos)\n")
        out.write("confusion (rows: true class, columns: predicted):\n")
        column = max(width, 5)
        out.write(" " * (width + 2) + "".join(f"  {label:>{column}}" for label in self.classes) + "\n")
        for label, row in zip(self.classes, self.confusion()):
            out.write(f"  {label:<{width}}" + "".join(f"  {n:>{column}}" for n in row) + "\n")
        for title, names in (("failed videos", self.failed), ("videos with no point", self.no_points)):
            out.write(f"{title}: {len(names)}\n")
            for name in names:
                out.write(f"  {name}\n")
        if self.times:
            out.write("times: " + ", ".join(f"{stage} {seconds:.1f} s"
                                            for stage, seconds in self.times.items()) + "\n")
        return out.getvalue()


def row_rates(matrix: np.ndarray) -> np.ndarray:
    """Each row of a confusion matrix as shares of its sum (a row without video stays 0),
    so that the diagonal is each class's accuracy whatever its number of test videos."""
    totals = matrix.sum(axis=1, keepdims=True)
    return np.divide(matrix, totals, out=np.zeros(matrix.shape), where=totals > 0)


def confusion_png(classes: Sequence[str], matrix: np.ndarray, title: str) -> bytes:
    """The confusion matrix as a PNG picture (matplotlib's Agg backend, no display): each
    cell shaded by its share of the row (the true class's test videos), its count written
    in it."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rates = row_rates(matrix)
    size = 2.5 + 0.55 * len(classes)
    figure, axes = plt.subplots(figsize=(size + 1.5, size), dpi=100)
    image = axes.imshow(rates, cmap="Blues", vmin=0.0, vmax=1.0)
    for row in range(matrix.shape[0]):
        for column in range(matrix.shape[1]):
            axes.text(column, row, f"{matrix[row, column]:d}", ha="center", va="center",
                      color="white" if rates[row, column] > 0.5 else "black")
    ticks = range(len(classes))
    axes.set_xticks(ticks, labels=list(classes), rotation=45, ha="right",
                    rotation_mode="anchor")
    axes.set_yticks(ticks, labels=list(classes))
    axes.set_xlabel("Predicted class")
    axes.set_ylabel("True class")
    figure.colorbar(image, ax=axes, fraction=0.046, pad=0.04,
                    label="share of the true class's test videos")
    axes.set_title(title)
    figure.tight_layout()
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", metadata={"Software": None})
    plt.close(figure)
    return buffer.getvalue()
