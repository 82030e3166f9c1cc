"""stview: space-time interest points in video, from Python.

detect and Detector find the points stdetect finds, read_features and write_features
read and write its features files, draw and render draw them as the stview viewer does.
Points are numpy arrays in a Features record; see help(stview.Features).
"""

from .detection import Detector, detect
from .drawing import draw, render
from .features import Features, concat
from .files import read_features, write_features

__all__ = ["Detector", "Features", "concat", "detect", "draw",
           "render", "read_features", "write_features"]
