"""OUT/model: what `predict` needs to label new videos like the test videos."""

from __future__ import annotations

import pathlib
import pickle
from dataclasses import dataclass

import numpy as np

from .bof import chi2_distances, histogram
from .classifier import Classifier
from .errors import Failed
from .fisher import LinearClassifier
from .output import write_atomically

# The file: a small pickle {"format", "sklearn"}, then the Model's own pickle, so that the
# version is checked before any scikit-learn object is read.
FORMAT = 3


@dataclass
class Model:
    """Detector options and, per channel, the fitted encoder: with the bag of features
    (`encoding` "bof") a KMeans codebook and the training histograms (float64 (videos,
    words)), and the SVM with its A_c; with Fisher vectors ("fisher") a fisher.Encoder
    (no training vectors: `train_histograms` is None) and the linear SVM."""

    detector_options: list[str]
    channels: list[str]
    codebooks: dict
    train_histograms: dict[str, np.ndarray] | None
    classifier: Classifier | LinearClassifier
    encoding: str = "bof"

    def predict(self, descriptors: dict[str, np.ndarray]) -> str:
        """The class of one video from its descriptors {channel: float32 (N, dimensions)}."""
        if self.encoding == "fisher":
            vector = np.concatenate([self.codebooks[channel].encode(descriptors[channel])
                                     for channel in self.channels])
            return str(self.classifier.predict(vector[None])[0])
        assert self.train_histograms is not None
        distances = {channel: chi2_distances(histogram(self.codebooks[channel], descriptors[channel])[None],
                                             self.train_histograms[channel])
                     for channel in self.channels}
        return str(self.classifier.predict(distances)[0])


def save(model: Model, path: pathlib.Path) -> None:
    """Writes the model to `path` (a pickle; whole or not at all), with the version of
    scikit-learn that fitted it."""
    import sklearn

    header = {"format": FORMAT, "sklearn": sklearn.__version__}
    write_atomically(path, pickle.dumps(header) + pickle.dumps(model))


def load(path: pathlib.Path) -> Model:
    """Reads a model saved by `save`; Failed when there is none, it cannot be read, or it
    was fitted by another version of scikit-learn than this one (scikit-learn's objects are
    only read back by the version that wrote them). Only load models this program wrote: a
    pickle can run code."""
    import sklearn

    if not path.is_file():
        raise Failed(f"no model at {path}: run the evaluation into {path.parent} first")
    try:
        stream = open(path, "rb")
    except OSError as error:
        raise Failed(f"cannot read the model {path}: {error.strerror}") from None
    with stream:
        try:
            header = pickle.load(stream)
        except Exception as error:  # noqa: BLE001 - whatever a broken pickle raises
            raise Failed(f"cannot read the model {path}: {error}") from None
        if not isinstance(header, dict) or header.get("format") != FORMAT:
            raise Failed(f"cannot read the model {path}: not a model of this version "
                         "(rerun the evaluation to make one)")
        if header.get("sklearn") != sklearn.__version__:
            raise Failed(f"the model {path} was made with scikit-learn {header.get('sklearn')}, "
                         f"this is scikit-learn {sklearn.__version__}: rerun the evaluation "
                         "with this one to make a model for it")
        try:
            model = pickle.load(stream)
        except Exception as error:  # noqa: BLE001 - whatever a broken pickle raises
            raise Failed(f"cannot read the model {path}: {error}") from None
    if not isinstance(model, Model):
        raise Failed(f"cannot read the model {path}: not a model of this version")
    return model
