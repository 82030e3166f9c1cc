"""The command line of `python3 -m stview.evaluate`, its messages and exit statuses:
0 results written, 1 failed, 2 bad arguments, 130 interrupted (features kept)."""

from __future__ import annotations

import argparse
import pathlib
import signal
import sys
import warnings

from .bof import CHANNELS
from .errors import BadArguments, EvaluationError
from .pipeline import PROGRAM, Settings, evaluate, note, predict

USAGE = f"""\
python3 -m {PROGRAM} DATASET OUT [--split kth|FILE] [--test-fraction F] [--seed N]
       [--words N] [--sample N] [--channels hog|hof|hog,hof] [-j N] [-- stdetect options]
python3 -m {PROGRAM} predict OUT VIDEO..."""

DESCRIPTION = """\
Bag-of-features action recognition on the detector's HOG and HOF descriptors. DATASET holds
one folder per class (DATASET/<class>/<video>) or KTH's videos (personNN_ACTION_dN_uncomp.avi).
Features go to OUT/features (made once, reused by later runs with the same stdetect
options); the accuracy, the confusion matrix and the model go to OUT/results.json,
OUT/confusion.png and OUT/model. `predict` prints one line per video: its path and class."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str):  # one line, status 2
        raise BadArguments(f"{message} (usage: python3 -m {PROGRAM} DATASET OUT [options], "
                           f"or predict OUT VIDEO...; -h for help)")


def _checked(convert, accept, wanted: str):
    """An argparse type: `convert` the text, then refuse values `accept` does not take."""
    def check(text: str):
        try:
            value = convert(text)
        except ValueError:
            value = None
        if value is None or not accept(value):
            raise argparse.ArgumentTypeError(f"needs {wanted}, not {text!r}")
        return value
    return check


def _channel_list(text: str) -> list[str] | None:
    names = text.split(",")
    if len(set(names)) != len(names) or not set(names) <= set(CHANNELS):
        return None
    return [channel for channel in CHANNELS if channel in names]


_positive = _checked(int, lambda value: value >= 1, "a positive integer")
_seed = _checked(int, lambda value: 0 <= value < 2**32, "an integer from 0 to 4294967295")
_fraction = _checked(float, lambda value: 0.0 < value < 1.0, "a number between 0 and 1")
_channels = _checked(_channel_list, lambda value: True, "hog, hof or hog,hof")


def parse(argv: list[str]) -> Settings:
    """Settings from the arguments of an evaluation; BadArguments when they cannot work."""
    detector_options: list[str] = []
    if "--" in argv:
        cut = argv.index("--")
        argv, detector_options = argv[:cut], argv[cut + 1:]
    for option in detector_options:
        if option == "--descriptors" or option.startswith("--descriptors="):
            raise BadArguments("--descriptors after -- is set by the evaluation (always hog,hof); "
                               "choose the channels with --channels")
    parser = _Parser(prog=f"python3 -m {PROGRAM}", usage=USAGE, description=DESCRIPTION,
                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("dataset", type=pathlib.Path)
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("--split", help="kth (KTH's test persons), or a file naming one test video "
                        "per line relative to DATASET; default: a random split stratified by class")
    parser.add_argument("--test-fraction", type=_fraction, default=0.3,
                        help="share of each class tested by the random split (default 0.3)")
    parser.add_argument("--seed", type=_seed, default=0, help="seed of the split, sample, k-means "
                        "and folds (default 0)")
    parser.add_argument("--words", type=_positive, default=4000, help="codebook size per channel "
                        "(default 4000)")
    parser.add_argument("--sample", type=_positive, default=100_000, help="training descriptors "
                        "sampled for each codebook (default 100000)")
    parser.add_argument("--channels", type=_channels, default=list(CHANNELS),
                        help="descriptors used: hog, hof or hog,hof (default)")
    parser.add_argument("-j", "--jobs", type=_positive, help="videos detected at once (default: "
                        "one per CPU thread)")
    args = parser.parse_args(argv)
    if args.sample < args.words:
        raise BadArguments(f"--sample {args.sample} is below --words {args.words}: k-means needs at "
                           "least one descriptor per word")
    split, split_file = None, None
    if args.split == "kth":
        split = "kth"
    elif args.split is not None:
        split, split_file = "file", pathlib.Path(args.split)
        if not split_file.is_file():
            raise BadArguments(f"no split file {split_file}")
    if args.dataset.exists() and not args.dataset.is_dir():
        raise BadArguments(f"{args.dataset} is not a folder")
    if not args.dataset.exists():
        raise BadArguments(f"no dataset folder {args.dataset}")
    if args.out.exists() and not args.out.is_dir():
        raise BadArguments(f"OUT {args.out} is not a folder")
    return Settings(args.dataset, args.out, split, split_file, args.test_fraction, args.seed,
                    args.words, args.sample, args.channels, args.jobs, detector_options)


def _warning(message, category, filename, lineno, file=None, line=None) -> None:
    note(f"note: {str(message).splitlines()[0]}")


def _terminate(signum, frame) -> None:
    raise KeyboardInterrupt


def main(argv: list[str] | None = None) -> int:
    """Runs the command; returns its exit status."""
    argv = list(sys.argv[1:] if argv is None else argv)
    warnings.showwarning = _warning
    signal.signal(signal.SIGTERM, _terminate)
    out = None
    try:
        if argv and argv[0] in ("-h", "--help"):
            print(USAGE + "\n\n" + DESCRIPTION)
            return 0
        if argv and argv[0] == "predict":
            if len(argv) < 3:
                raise BadArguments(f"usage: python3 -m {PROGRAM} predict OUT VIDEO...")
            return predict(pathlib.Path(argv[1]), argv[2:])
        settings = parse(argv)
        out = settings.out
        results = evaluate(settings)
        print(results.text(), end="")
        return 0
    except EvaluationError as error:
        note(str(error))
        return error.status
    except KeyboardInterrupt:
        kept = f"; the features made so far are kept in {out}/features" if out else ""
        note(f"interrupted{kept}")
        return 130
    except MemoryError:
        note("out of memory: try a smaller --sample or --words")
        return 1
    except OSError as error:
        note(f"{error.filename or 'error'}: {error.strerror or error}")
        return 1
    except Exception as error:  # noqa: BLE001 - a user gets one line, not a traceback
        note(f"failed: {type(error).__name__}: {error}")
        return 1
