"""Action recognition from the detector's features: `python3 -m stview.evaluate`.

Bag of features as published evaluations do it: HOG and HOF descriptors from stdetect
(through scripts/detect-dataset.sh), a k-means codebook per channel, normalised word
histograms, and a one-vs-rest SVM on the multi-channel chi-squared kernel with C chosen by
cross-validation. scikit-learn clusters and classifies; matplotlib draws the confusion
matrix. `main` runs the command line.
"""

from .cli import main

__all__ = ["main"]
