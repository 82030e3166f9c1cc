"""OUT/model: what `predict` needs to label new videos like the test videos."""

from __future__ import annotations

import pathlib
import pickle
from dataclasses import dataclass

import numpy as np

from .bof import chi2_distances, histogram
from .classifier import Classifier
from .errors import Failed
from .output import write_atomically

FORMAT = 1


@dataclass
class Model:
    """Detector options, one fitted KMeans codebook and the training histograms
    (float64 (videos, words)) per channel, and the SVM with its A_c."""

    detector_options: list[str]
    channels: list[str]
    codebooks: dict
    train_histograms: dict[str, np.ndarray]
    classifier: Classifier

    def predict(self, descriptors: dict[str, np.ndarray]) -> str:
        """The class of one video from its descriptors {channel: float32 (N, dimensions)}."""
        distances = {channel: chi2_distances(histogram(self.codebooks[channel], descriptors[channel])[None],
                                             self.train_histograms[channel])
                     for channel in self.channels}
        return str(self.classifier.predict(distances)[0])


def save(model: Model, path: pathlib.Path) -> None:
    """Writes the model to `path` (a pickle; whole or not at all)."""
    import sklearn

    write_atomically(path, pickle.dumps({"format": FORMAT, "sklearn": sklearn.__version__, "model": model}))


def load(path: pathlib.Path) -> Model:
    """Reads a model saved by `save`; Failed when there is none or it cannot be read. Only
    load models this program wrote: a pickle can run code."""
    if not path.is_file():
        raise Failed(f"no model at {path}: run the evaluation into {path.parent} first")
    try:
        with open(path, "rb") as stream:
            saved = pickle.load(stream)
        if not isinstance(saved, dict) or saved.get("format") != FORMAT:
            raise ValueError("not a model of this version")
        return saved["model"]
    except Exception as error:  # noqa: BLE001 - whatever a broken pickle raises
        raise Failed(f"cannot read the model {path}: {error}") from None
