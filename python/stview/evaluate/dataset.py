"""The videos of a dataset, their classes, and the train/test split."""

from __future__ import annotations

import pathlib
import posixpath
import re
from dataclasses import dataclass

import stview.dataset as runner

from .errors import BadArguments, Failed

KTH_NAME = re.compile(r"person(\d+)_([A-Za-z]+)_d(\d+)_uncomp\.avi")
# The test persons of KTH's standard split; the other 16 train.
KTH_TEST_PERSONS = frozenset({2, 3, 5, 6, 7, 8, 9, 10, 22})


@dataclass(frozen=True)
class Video:
    """One labelled video: `path` relative to the dataset ('/'-separated), its class and,
    for a KTH file name, its person (else None)."""

    path: str
    label: str
    person: int | None


def parse_kth_name(name: str) -> tuple[int, str, int] | None:
    """(person, action, scenario) of a KTH file name such as 'person01_boxing_d1_uncomp.avi',
    or None for any other name."""
    match = KTH_NAME.fullmatch(name)
    if match is None:
        return None
    return int(match.group(1)), match.group(2), int(match.group(3))


def list_videos(dataset: pathlib.Path) -> list[Video]:
    """Every video under `dataset`, sorted by path. The class is the first folder below
    `dataset`; a video directly in it needs a KTH name, whose action is then the class.
    Raises BadArguments when there is no video or one has no class."""
    paths = runner.list_videos(dataset)
    if not paths:
        raise BadArguments(f"no video under {dataset}")
    videos = []
    for path in paths:
        kth = parse_kth_name(posixpath.basename(path))
        if "/" in path:
            label = path.split("/", 1)[0]
        elif kth is not None:
            label = kth[1]
        else:
            raise BadArguments(f"{path} is neither in a class folder nor named like KTH's "
                               "personNN_ACTION_dN_uncomp.avi")
        videos.append(Video(path, label, kth[0] if kth else None))
    return videos


def features_names(videos: list[Video], form: str = "txt") -> dict[str, str]:
    """The features file of each video, relative to the features folder, as the dataset
    runner names it (stview.dataset.output_names) for the form ("txt" or "h5")."""
    return runner.output_names([video.path for video in videos], "." + form)


def read_split_file(path: pathlib.Path, videos: list[Video]) -> set[str]:
    """The test videos named in a split file: one path relative to the dataset per line
    (blank lines and '#' lines skipped). Raises BadArguments for a name that is no video."""
    try:
        lines = path.read_text(encoding="utf-8").splitlines()
    except (OSError, UnicodeDecodeError) as error:
        raise BadArguments(f"cannot read the split file {path}: {error}") from None
    known = {video.path for video in videos}
    test, unknown = set(), []
    for line in lines:
        name = line.strip()
        if not name or name.startswith("#"):
            continue
        name = posixpath.normpath(name)
        if name in known:
            test.add(name)
        else:
            unknown.append(name)
    if unknown:
        more = f" and {len(unknown) - 1} more" if len(unknown) > 1 else ""
        raise BadArguments(f"the split file {path} names {unknown[0]}{more}, not a video of the dataset")
    if not test:
        raise BadArguments(f"the split file {path} names no video")
    return test


def split_videos(videos: list[Video], split: str | None, test_fraction: float,
                 seed: int, split_file: pathlib.Path | None = None) -> tuple[list[Video], list[Video]]:
    """(train, test), each sorted by path. `split` 'kth' takes KTH's test persons, 'file' the
    videos of `split_file`, None a random split stratified by class (`test_fraction` of each
    class to test, seeded by `seed`)."""
    if split == "kth":
        missing = [video.path for video in videos if video.person is None]
        if missing:
            raise BadArguments(f"--split kth needs KTH file names (personNN_ACTION_dN_uncomp.avi), "
                               f"not {missing[0]}")
        test = {video.path for video in videos if video.person in KTH_TEST_PERSONS}
    elif split == "file":
        assert split_file is not None
        test = read_split_file(split_file, videos)
    else:
        from sklearn.model_selection import train_test_split
        try:
            _, chosen = train_test_split([video.path for video in videos], test_size=test_fraction,
                                         random_state=seed, stratify=[video.label for video in videos])
        except ValueError as error:
            raise Failed(f"cannot split the dataset at random by class: {error}") from None
        test = set(chosen)
    train = [video for video in videos if video.path not in test]
    return train, [video for video in videos if video.path in test]
