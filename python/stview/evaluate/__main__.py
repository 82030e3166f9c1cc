"""`python3 -m stview.evaluate`: see stview.evaluate.cli for the usage and exit statuses."""

import sys

from .cli import main

sys.exit(main())
