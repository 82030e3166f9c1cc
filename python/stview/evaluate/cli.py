"""The command line of `python3 -m stview.evaluate`, its messages and exit statuses:
0 results written, 1 failed, 2 bad arguments, 130 interrupted (features kept)."""

from __future__ import annotations

import argparse
import pathlib
import signal
import sys
import warnings

from .errors import BadArguments, EvaluationError
from .pipeline import PROGRAM, Settings, evaluate, note, predict

USAGE = f"""\
python3 -m {PROGRAM} DATASET OUT [--split kth|FILE] [--test-fraction F] [--seed N]
       [--encoding bof|fisher] [--words N | --gaussians K] [--sample N]
       [--channels trajectory,hog,hof,mbh] [-j N] [-- stdetect options]
python3 -m {PROGRAM} compare DATASET OUT [--detectors harris,gabor,hessian,dense,trajectories]
       [--encodings bof,fisher] [--options DETECTOR="STDETECT OPTIONS"]... [run options]
python3 -m {PROGRAM} predict OUT VIDEO..."""
# Every descriptor block a features file can carry, in the order stdetect writes them.
CHANNELS = ("trajectory", "hog", "hof", "mbh")
ENCODINGS = ("bof", "fisher")

DESCRIPTION = """\
Action recognition on the detector's descriptors: a bag of features with a chi-squared SVM
(bof) or Fisher vectors with a linear SVM (fisher). DATASET holds
one folder per class (DATASET/<class>/<video>) or KTH's videos (personNN_ACTION_dN_uncomp.avi).
Features go to OUT/features (made once, reused by later runs with the same stdetect
options); the accuracy, the confusion matrix and the model go to OUT/results.json,
OUT/confusion.png and OUT/model. `compare` runs every detector, channel and encoding into
OUT/<detector>/<channels>-<encoding> and tables them in OUT/comparison.{json,md,png}.
`predict` prints one line per video: its path and class."""


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


def _name_list(known: tuple[str, ...]):
    def names(text: str) -> list[str] | None:
        chosen = text.split(",")
        if len(set(chosen)) != len(chosen) or not set(chosen) <= set(known):
            return None
        return [name for name in known if name in chosen]
    return names


_positive = _checked(int, lambda value: value >= 1, "a positive integer")
_seed = _checked(int, lambda value: 0 <= value < 2**32, "an integer from 0 to 4294967295")
_fraction = _checked(float, lambda value: 0.0 < value < 1.0, "a number between 0 and 1")
_channels = _checked(_name_list(CHANNELS), lambda value: True, "some of " + ",".join(CHANNELS))
_encoding = _checked(str, lambda value: value in ENCODINGS, "bof or fisher")
_encodings = _checked(_name_list(ENCODINGS), lambda value: True, "bof, fisher or bof,fisher")


def add_run_options(parser: argparse.ArgumentParser) -> None:
    """The dataset, OUT, split and encoding options an evaluation and a comparison share."""
    parser.add_argument("dataset", type=pathlib.Path)
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("--split", help="kth (KTH's test persons), or a file naming one test video "
                        "per line relative to DATASET; default: a random split stratified by class")
    parser.add_argument("--test-fraction", type=_fraction, default=0.3,
                        help="share of each class tested by the random split (default 0.3)")
    parser.add_argument("--seed", type=_seed, default=0, help="seed of the split, sample, k-means, "
                        "PCA, mixture, SVM and folds (default 0)")
    parser.add_argument("--words", type=_positive, help="bof: codebook size per channel "
                        "(default 4000)")
    parser.add_argument("--gaussians", type=_positive, help="fisher: Gaussians per channel "
                        "(default 256)")
    parser.add_argument("--sample", type=_positive, default=100_000, help="training descriptors "
                        "sampled for each codebook or mixture (default 100000)")
    parser.add_argument("-j", "--jobs", type=_positive, help="videos detected at once (default: "
                        "one per CPU thread)")


def run_settings(args: argparse.Namespace, encodings: list[str], channels: list[str] | None,
                 detector_options: list[str]) -> Settings:
    """Settings from parsed run options (encoding: the first of `encodings`); BadArguments
    for --words or --gaussians without an encoding that uses it, and --sample below either."""
    if args.gaussians is not None and "fisher" not in encodings:
        raise BadArguments("--gaussians is the Fisher vectors' size: give it with --encoding fisher")
    if args.words is not None and "bof" not in encodings:
        raise BadArguments("--words is the bag of features' size: --encoding fisher takes --gaussians")
    words = 4000 if args.words is None else args.words
    gaussians = 256 if args.gaussians is None else args.gaussians
    for option, size, encoding in (("--words", words, "bof"), ("--gaussians", gaussians, "fisher")):
        if encoding in encodings and args.sample < size:
            raise BadArguments(f"--sample {args.sample} is below {option} {size}: the fit needs at "
                               f"least one descriptor per {'word' if encoding == 'bof' else 'Gaussian'}")
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
                    words, args.sample, channels, args.jobs, detector_options, encodings[0], gaussians)


def parse(argv: list[str]) -> Settings:
    """Settings from the arguments of an evaluation; BadArguments when they cannot work."""
    detector_options: list[str] = []
    if "--" in argv:
        cut = argv.index("--")
        argv, detector_options = argv[:cut], argv[cut + 1:]
    for option in detector_options:
        if option == "--descriptors" or option.startswith("--descriptors="):
            raise BadArguments("--descriptors after -- is set by the evaluation (all the detector's); "
                               "choose the channels with --channels")
    parser = _Parser(prog=f"python3 -m {PROGRAM}", usage=USAGE, description=DESCRIPTION,
                     formatter_class=argparse.RawDescriptionHelpFormatter)
    add_run_options(parser)
    parser.add_argument("--encoding", type=_encoding, default="bof",
                        help="bof (codebook histograms, chi-squared SVM; default) or fisher "
                        "(Fisher vectors, linear SVM)")
    parser.add_argument("--channels", type=_channels, help="descriptors used, among the detector's "
                        "(default: all of them: hog,hof; trajectory,hog,hof,mbh for trajectories)")
    args = parser.parse_args(argv)
    return run_settings(args, [args.encoding], args.channels, detector_options)


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
        if argv and argv[0] == "compare":
            from .compare import compare, parse_compare

            request = parse_compare(argv[1:])
            out = request.settings.out
            return compare(request)
        settings = parse(argv)
        out = settings.out
        results = evaluate(settings)
        print(results.text(), end="")
        return 0
    except EvaluationError as error:
        note(str(error))
        return error.status
    except KeyboardInterrupt:
        kept = f"; the features and runs finished so far are kept in {out}" if out else ""
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
