"""stdetect's detectors against the whole-volume models of reference_detectors.py."""

import os
import subprocess

import numpy as np
import pytest

import reference_detectors as ref
import stview

STDETECT = os.environ.get("STDETECT", "stdetect")
WIDTH, HEIGHT, FRAMES = 128, 72, 24
# float32 rounding: a relative part, and SLACK units of the reference's rounding scale
TIE = 1e-5  # the gap to a neighbour or the threshold below which rounding may decide
VALUE = 1e-4  # between the responses of a point both sides find
SLACK = 16


@pytest.fixture(scope="module")
def clip(tmp_path_factory):
    """A lossless clip (path, grey frames): a still checkerboard, squares that swing, turn
    and appear over it, a disc flickering and a bar swinging with periods of about three
    frames, the motion the periodic filter answers to; and a flickering stripe the frame's
    height, whose response is the same in every row (a ridge of ties, never a maximum)."""
    t = np.arange(FRAMES)[:, None, None]
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
    box = lambda cx, cy, r: (np.abs(x - cx) < r) & (np.abs(y - cy) < r)  # noqa: E731
    grey = np.where((x // 8 + y // 8) % 2 * (x < 48), 200.0, 50.0) + 0 * t
    grey = np.where(box(24 + 14 * np.sin(t / 2.0), 20 + 3 * np.abs(t - 12), 6), 250, grey)
    grey = np.where(box(30, 54, 5) & np.isin(t, (3, 4, 5, 9, 10, 16, 17, 18, 19)), 10, grey)
    grey = np.where((x - 72) ** 2 + (y - 18) ** 2 < 64, 128 + 120 * np.cos(2.1 * t), grey)
    grey = np.where(box(72 + 6 * np.sin(2.0 * t), 51, 3) | box(72, 51 + 12 * np.sin(2.0 * t),
                                                             2), 230, grey)
    grey = grey + 20 * np.sin(x * 0.7 + y * 0.3) * (x < 82)
    # beyond the widest kernel's reach of all else, so that every row computes the same
    grey = np.where(np.abs(x - 110) < 3, 128 + 100 * np.cos(2.3 * t + 1), grey)
    bgr = np.stack([grey, grey, grey * 0.9 + 25], -1).clip(0, 255).round().astype(np.uint8)
    path = tmp_path_factory.mktemp("detectors") / "clip.avi"
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "rawvideo", "-pix_fmt", "bgr24",
                    "-s", f"{WIDTH}x{HEIGHT}", "-i", "-", "-c:v", "rawvideo", "-pix_fmt",
                    "bgr24", str(path)], input=bgr.tobytes(), check=True)
    return path, ref.bgr_to_grey(bgr)


def stdetect(clip, detector, options):
    """Runs stdetect; its Features, or a skip while the build lacks --detector."""
    out = clip.with_name(f"{detector}-{abs(hash(str(options)))}.txt")
    args = [] if detector == "harris" else ["--detector", detector]
    names = {"first": "-ff", "last": "-lf", "scales": "--scales", "threshold": "--threshold",
             "descriptors": "--descriptors"}
    for name, value in options.items():
        if name == "scales":
            value = ":".join(",".join(map(str, v)) for v in value)
        args += [names[name], str(value)]
    run = subprocess.run([STDETECT, "-v", str(clip), "-o", str(out), "--quiet"] + args,
                         capture_output=True, text=True)
    if run.returncode == 2 and "--detector" in run.stderr and "unknown option" in run.stderr:
        pytest.skip("this stdetect has no --detector")
    assert run.returncode == 0, run.stderr
    return stview.read_features(out)


def unexplained(alone, common, volumes, threshold, first):
    """Points one side alone finds that rounding cannot explain (the reference's value is
    within rounding of a neighbour's or of the threshold), and responses both find that
    differ by more than rounding: each a fault."""
    bad = []
    for (x, y, t, s2, t2), found in [(k, None) for k in alone] + list(common.items()):
        R, B = volumes[(s2, t2)]
        t, r, c = int(t) - first, HEIGHT - int(y), int(x)
        if not (0 < t < len(R) - 1 and 0 < r < HEIGHT - 1 and 0 < c < WIDTH - 1):
            bad.append((x, y, t + first, s2, t2, "outside the point rule's box"))
            continue
        near = R[t - 1:t + 2, r - 1:r + 2, c - 1:c + 2].copy()
        value, near[1, 1, 1] = near[1, 1, 1], -np.inf
        rounding = SLACK * np.broadcast_to(B, R.shape)[t, r, c]
        if found is None:
            gap = min(abs(value - near.max()), abs(value - threshold))
            ok = gap <= TIE * abs(value) + 2 * rounding
        else:
            ok = abs(found - value) <= VALUE * abs(value) + rounding
        if not ok:
            bad.append((x, y, t + first, s2, t2, value, found))
    return bad


ROWS = [
    ("harris", {}),
    ("gabor", {}),
    ("gabor", {"scales": ((2, 9), (1, 3)), "threshold": 0.01, "first": 3, "last": 21}),
    ("hessian", {"threshold": 1e-3}),
    ("hessian", {"scales": ((4, 16), (2,)), "first": 2, "last": 20}),
    # sigma2 25: 90 rows, taller than the frame; tau2 4: 16 frames, longer than the range
    ("dense", {"scales": ((2, 16, 25), (1, 4)), "first": 2, "last": 15}),
    ("dense", {}),
    ("gabor", {"descriptors": "hog,hof", "threshold": 0.01}),
]


@pytest.mark.parametrize("detector, options", ROWS,
                         ids=[f"{d}-{i}" for i, (d, _) in enumerate(ROWS)])
def test_agrees_with_reference(clip, detector, options):
    path, grey = clip
    found = stdetect(path, detector, options)
    got = found.points[:, 1:]
    assert np.array_equal(found.points[:, 0], np.arange(len(found)))
    assert np.array_equal(got, ref.sort_records(got)), "not in t, sigma2, tau2, row, column order"
    kw = {k: v for k, v in options.items() if k != "descriptors"}
    want = ref.detect(grey, detector, **kw)
    if detector == "dense":
        assert len(want) > 0 and np.array_equal(got, want)
        return
    mine = {tuple(p[:5]): p[5] for p in got}
    theirs = {tuple(p[:5]) for p in want}
    common = {k: v for k, v in mine.items() if k in theirs}
    assert len(common) >= 0.95 * max(len(mine), len(theirs)) and len(common) > 10
    volumes = ref.responses(grey, detector, **{k: kw[k] for k in ("scales", "first", "last")
                                               if k in kw})
    threshold = kw.get("threshold", ref.THRESHOLDS[detector])
    alone = sorted(mine.keys() ^ theirs)
    assert unexplained(alone, common, volumes, threshold, kw.get("first", 0)) == []
    if "descriptors" in options:
        assert found.hog.shape == (len(found), 72) and found.hof.shape == (len(found), 90)
        for block in (found.hog, found.hof):  # each unit length, or all zeros
            norms = np.linalg.norm(block.astype(np.float64), axis=1)
            assert np.all((np.abs(norms - 1) < 1e-3) | (norms == 0)) and norms.any()
        plain = stdetect(path, detector, {"threshold": options["threshold"]})
        assert np.array_equal(plain.points, found.points)
