"""The Python package against the programs, on a short generated clip."""

import os
import subprocess

import numpy as np
import pytest

import stview

STDETECT = os.environ.get("STDETECT", "stdetect")


@pytest.fixture(scope="module")
def work(tmp_path_factory):
    folder = tmp_path_factory.mktemp("stview")
    clip = folder / "clip.avi"
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                    "testsrc2=size=128x96:rate=25", "-frames:v", "20", "-c:v", "mjpeg",
                    "-q:v", "2", str(clip)], check=True)
    (folder / "bad.txt").write_text("# columns: id x y t sigma2 tau2 H hog[72]\n0 1 2 3 4 2 1\n")
    (folder / "mixed.txt").write_text("0 1 2 3 4 2 1 junk\nnot a record\n\n1 5 6 7 8 2 0.5\n")
    return folder


def test_files_agree_with_stdetect(work):
    out = work / "clip.txt"
    subprocess.run([STDETECT, "-v", str(work / "clip.avi"), "-o", str(out), "--quiet",
                    "--descriptors", "hog,hof"], check=True)
    f = stview.read_features(out)
    assert f.points.dtype == np.float64 and f.hog.shape == (len(f), 72) and len(f) > 10
    assert f.hof.dtype == np.float32 and f.hof.shape == (len(f), 90)
    stview.write_features(work / "again.txt", f)
    g = stview.read_features(work / "again.txt")
    records = lambda path: [l for l in path.read_text().splitlines() if l[0] != "#"]  # noqa
    assert records(out) == records(work / "again.txt")
    assert f.points.tobytes() == g.points.tobytes() and f.hog.tobytes() == g.hog.tobytes()
    both = stview.concat([f[:3], f[3:]])
    assert np.array_equal(both.points, f.points) and np.array_equal(both.hof, f.hof)
    assert len(f[f.points[:, 3] == f.points[0, 3]]) >= 1 and len(f[-1]) == 1


def test_skipped_lines_reported_as_the_viewer_does(work, capfd):
    f = stview.read_features(work / "mixed.txt")
    assert f.points.tolist() == [[0, 1, 2, 3, 4, 2, 1], [1, 5, 6, 7, 8, 2, 0.5]]
    assert f.hog is None and "Skipped 1 line(s)" in capfd.readouterr().err


BAD = [
    (lambda w: stview.read_features(w / "missing.txt"), FileNotFoundError, "missing.txt"),
    (lambda w: stview.read_features(w), IsADirectoryError, "folder"),
    (lambda w: stview.read_features(w / "bad.txt"), ValueError, "line 2"),
    (lambda w: stview.write_features(w, stview.Features(np.zeros((1, 7)))),
     IsADirectoryError, "folder"),
    (lambda w: stview.write_features(w / "x.txt", stview.Features([[0, 0.5, 0, 0, 4, 2, 1]])),
     ValueError, "x = 0.5"),
    (lambda w: stview.write_features(w / "no" / "x.txt", stview.Features(np.zeros((1, 7)))),
     FileNotFoundError, "no folder"),
    (lambda w: stview.Features(np.zeros((2, 7)), hog=np.zeros((2, 71))), ValueError, "hog"),
]


@pytest.mark.parametrize("call, error, words", BAD)
def test_bad_input_raises_and_harms_nothing(work, call, error, words):
    with pytest.raises(error, match=words):
        call(work)
    assert not (work / "x.txt").exists()
