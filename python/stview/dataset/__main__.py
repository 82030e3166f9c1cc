"""python3 -m stview.dataset: see stview.dataset.runner."""

import sys

from .runner import main

sys.exit(main(sys.argv[1:]))
