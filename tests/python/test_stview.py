"""The Python package against the programs, on a short generated clip."""

import os
import signal
import subprocess
import sys
import time

import h5py
import numpy as np
import pytest

import stview

STDETECT = os.environ.get("STDETECT", "stdetect")


@pytest.fixture(scope="module")
def work(tmp_path_factory):
    folder = tmp_path_factory.mktemp("stview")
    clip = folder / "clip.avi"
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                    "testsrc2=size=128x96:rate=25", "-frames:v", "20", "-c:v", "rawvideo",
                    "-pix_fmt", "bgr24", str(clip)], check=True)  # lossless: exact frames
    (folder / "bad.txt").write_text("# columns: id x y t sigma2 tau2 H hog[72]\n0 1 2 3 4 2 1\n")
    (folder / "mixed.txt").write_text("0 1 2 3 4 2 1 junk\nnot a record\n\n1 5 6 7 8 2 0.5\n")
    return folder


def rgb_frames(clip):
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(clip), "-f",
                          "rawvideo", "-pix_fmt", "rgb24", "-"], check=True,
                         capture_output=True).stdout
    return np.frombuffer(raw, np.uint8).reshape(-1, 96, 128, 3)


def test_agrees_with_stdetect(work):
    out = work / "clip.txt"
    subprocess.run([STDETECT, "-v", str(work / "clip.avi"), "-o", str(out), "--quiet",
                    "--descriptors", "hog,hof"], check=True)
    f = stview.read_features(out)
    d = stview.detect(work / "clip.avi", descriptors="hog,hof", threads=1)
    assert d.points.tobytes() == f.points.tobytes()
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
    text = lambda a: [" ".join("%.4g" % v for v in row) for row in a]  # noqa: E731
    assert text(d.hog) == text(f.hog) and text(d.hof) == text(f.hof)
    det = stview.Detector((128, 96), descriptors=("hog", "hof"), color="rgb")
    parts = [det.add(frame) for frame in rgb_frames(work / "clip.avi")]
    s = stview.concat(parts + [det.finish()])
    assert np.array_equal(s.points, d.points) and np.array_equal(s.hog, d.hog)
    assert np.array_equal(s.hof, d.hof) and len(parts[0]) == 0
    for frame in range(3, 17, 4):  # the pixels of stview's overlay, in both channel orders
        helper = [os.environ["OVERLAY_HELPER"], str(out), "128", "96", str(frame)]
        expected = np.frombuffer(subprocess.run(helper, check=True, capture_output=True)
                                 .stdout, np.uint8).reshape(96, 128, 3)
        bgr, rgb = np.zeros((2, 96, 128, 3), np.uint8)
        stview.draw(bgr, f, frame)
        stview.draw(rgb, f, frame, color="rgb")
        assert expected.any() and np.array_equal(bgr, expected)
        assert np.array_equal(rgb, expected[..., ::-1])
    decoded = lambda path: subprocess.run(  # noqa: E731
        ["ffmpeg", "-v", "error", "-i", str(path), "-f", "rawvideo", "-"], check=True,
        capture_output=True).stdout
    subprocess.run([os.environ["STVIEW"], "--no-window", "-v", str(work / "clip.avi"), "-f",
                    str(out), "-o", str(work / "stview.mp4"), "-ff", "2"], check=True,
                   capture_output=True)
    assert stview.render(work / "clip.avi", out, work / "py.mp4", first=2) == 18
    assert decoded(work / "py.mp4") == decoded(work / "stview.mp4")


def test_another_detector_agrees_with_stdetect(work):
    """detect() and a Detector fed the frames give stdetect --detector gabor's points."""
    out = work / "gabor.txt"
    subprocess.run([STDETECT, "-v", str(work / "clip.avi"), "-o", str(out), "--quiet",
                    "--detector", "gabor", "--scales", "4,8:2,4", "--descriptors", "hog"],
                   check=True)
    f = stview.read_features(out)
    d = stview.detect(work / "clip.avi", detector="gabor", scales=((4, 8), (2, 4)),
                      descriptors="hog")
    det = stview.Detector((128, 96), detector="gabor", scales=((4, 8), (2, 4)),
                          descriptors=["hog"], color="rgb")
    s = stview.concat([det.add(frame) for frame in rgb_frames(work / "clip.avi")] +
                      [det.finish()])
    assert len(f) > 10 and d.points.tobytes() == f.points.tobytes() and d.hof is None
    assert np.array_equal(s.points, d.points) and np.array_equal(s.hog, d.hog)


CHILD = """
import signal, sys, stview
signal.signal(signal.SIGINT, signal.default_int_handler)
print("go", flush=True)
try:
    stview.{call}
except KeyboardInterrupt:
    sys.exit(3)
"""


@pytest.mark.parametrize("call", ["detect(CLIP, progress=True)",
                                  "render(CLIP, stview.Features([]), OUT, progress=True)"])
def test_ctrl_c_raises_keyboard_interrupt_and_closes_the_output(work, call):
    clip, out = work / "long.avi", work / "interrupted.mp4"
    if not clip.exists():
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                        "testsrc2=size=320x240:rate=25", "-frames:v", "3000", "-c:v", "mjpeg",
                        str(clip)], check=True)
    code = CHILD.format(call=call.replace("CLIP", repr(str(clip))).replace("OUT", repr(str(out))))
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE)
    assert child.stdout.readline() == b"go\n"
    time.sleep(1.5)
    child.send_signal(signal.SIGINT)
    assert child.wait(timeout=60) == 3
    if "render" in call:
        frames = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                 "stream=nb_read_frames", "-of", "csv=p=0", str(out)],
                                check=True, capture_output=True, text=True).stdout
        assert 0 < int(frames) < 3000


def test_skipped_lines_reported_as_the_viewer_does(work, capfd):
    f = stview.read_features(work / "mixed.txt")
    assert f.points.tolist() == [[0, 1, 2, 3, 4, 2, 1], [1, 5, 6, 7, 8, 2, 0.5]]
    assert f.hog is None and "Skipped 1 line(s)" in capfd.readouterr().err


def refused_frame(w):
    det = stview.Detector((128, 96), scales=((4,), (2,)), color="rgb")
    frames = np.pad(rgb_frames(w / "clip.avi"), ((0, 0), (0, 0), (1, 1), (0, 0)))
    with pytest.raises(ValueError, match="frame 0 is 130x96"):
        det.add(frames[0])
    s = stview.concat([det.add(f[:, 1:-1]) for f in frames] + [det.finish()])  # unpacked rows
    d = stview.detect(w / "clip.avi", scales=((4,), (2,)))
    assert np.array_equal(s.points, d.points)
    det.add(frames[0, :, 1:-1])


def trajectory_features(n, rng, length=15):
    """Features with every block a trajectory record carries, values a float32 holds."""
    points = np.column_stack([np.arange(n), rng.integers(0, 99, (n, 3)),
                              rng.random((n, 3)).astype(np.float32)])
    tracks = rng.random((n, length + 1, 2)).astype(np.float32) * 300
    blocks = {name: rng.random((n, width)).astype(np.float32)
              for name, width in (("trajectory", 2 * length), ("hog", 96), ("hof", 108),
                                  ("mbh", 192))}
    return stview.Features(points, blocks["hog"], blocks["hof"], tracks=tracks,
                           trajectory=blocks["trajectory"], mbh=blocks["mbh"])


@pytest.mark.parametrize("n, keep", [(5, ("tracks", "trajectory", "hog", "hof", "mbh")),
                                     (3, ("tracks", "mbh")), (0, ("tracks", "hof"))])
def test_trajectory_blocks_round_trip(tmp_path, n, keep):
    full = trajectory_features(n, np.random.default_rng(n))
    f = stview.Features(full.points, **{name: getattr(full, name) for name in keep})
    stview.write_features(tmp_path / "a.txt", f)
    g = stview.read_features(tmp_path / "a.txt")
    assert np.array_equal(g.tracks, f.tracks) and g.tracks.dtype == np.float64
    assert np.array_equal(g.points, f.points)
    for name in ("trajectory", "hog", "hof", "mbh"):
        assert (getattr(g, name) is None) == (name not in keep)
        if name in keep:  # %.4g of each float
            assert np.allclose(getattr(g, name), getattr(f, name), rtol=1e-3, atol=0)
    stview.write_features(tmp_path / "b.txt", g)
    first, second = ((tmp_path / x).read_text().split("\n", 2)[2] for x in ("a.txt", "b.txt"))
    assert first == second and "value track[32]" in (tmp_path / "a.txt").read_text()
    both = stview.concat([g[:1], g[1:]])
    assert np.array_equal(both.tracks, g.tracks) and len(both) == n


@pytest.mark.parametrize("n, keep", [(5, ("tracks", "trajectory", "hog", "hof", "mbh")),
                                     (4, ("hog", "hof")), (3, ()), (0, ("tracks", "hof"))])
def test_hdf5_round_trip(tmp_path, n, keep):
    """text -> HDF5 -> text gives the same records; h5py reads the layout the README gives."""
    full = trajectory_features(n, np.random.default_rng(n))
    stview.write_features(tmp_path / "a.txt",
                          stview.Features(full.points, **{k: getattr(full, k) for k in keep}))
    t = stview.read_features(tmp_path / "a.txt")
    stview.write_features(tmp_path / "a.h5", t)
    h = stview.read_features(tmp_path / "a.h5")
    for name in ("points",) + stview.features.BLOCKS:
        a, b = getattr(t, name), getattr(h, name)
        assert (a is None and b is None) or (a.dtype == b.dtype and np.array_equal(a, b))
    stview.write_features(tmp_path / "b.txt", h)
    first, second = ((tmp_path / x).read_text().split("\n", 2)[2] for x in ("a.txt", "b.txt"))
    assert first == second
    with h5py.File(tmp_path / "a.h5", "r") as file:
        names = {"tracks": "tracks"}
        assert set(file) == {"points"} | {names.get(k, k) for k in keep}
        assert file["points"].dtype == np.float64 and np.array_equal(file["points"][:], t.points)
        if "tracks" in keep:
            assert file["tracks"].shape == (n, 16, 2) and file["tracks"].dtype == np.float64
        assert file.attrs["format_version"] == 1 and "a.h5" in file.attrs["command"]


def test_hdf5_from_stdetect_is_exact(work):
    """stdetect -o .h5 holds detect()'s values unrounded; stview plays it."""
    subprocess.run([STDETECT, "-v", str(work / "clip.avi"), "-o", str(work / "clip.h5"),
                    "--quiet", "--descriptors", "hog,hof"], check=True)
    f = stview.read_features(work / "clip.h5")
    d = stview.detect(work / "clip.avi", descriptors="hog,hof", threads=1)
    assert len(f) > 10 and f.points.tobytes() == d.points.tobytes()
    assert f.hog.tobytes() == d.hog.tobytes() and f.hof.tobytes() == d.hof.tobytes()
    with h5py.File(work / "clip.h5", "r") as file:
        assert list(file.attrs["frame_size"]) == [128, 96] and file.attrs["detector"] == "harris"
    played = subprocess.run([os.environ["STVIEW"], "--no-window", "-v", str(work / "clip.avi"),
                             "-f", str(work / "clip.h5"), "-o", str(work / "h5.mp4")],
                            capture_output=True, text=True)
    assert played.returncode == 0 and f"load {len(f)} features" in played.stdout


def hdf5_file(path, version=1, **datasets):
    """A file made with h5py: the datasets given (name=array) and a format_version."""
    with h5py.File(path, "w") as file:
        file.attrs["format_version"] = version
        for name, values in datasets.items():
            file[name] = values
    return path


def cut_hdf5(w):
    stview.write_features(w / "cut.h5", stview.Features(np.zeros((3000, 7)), np.zeros((3000, 72))))
    (w / "cut.h5").write_bytes((w / "cut.h5").read_bytes()[:200000])
    return stview.read_features(w / "cut.h5")


BAD = [
    (refused_frame, RuntimeError, "after finish"),
    (lambda w: stview.detect(w / "none.avi"), FileNotFoundError, "none.avi"),
    (lambda w: stview.detect(w / "bad.txt"), OSError, "could not open"),
    (lambda w: stview.detect(w / "clip.avi", scales=((4, -1), (2,))), ValueError,
     "scales: spatial variance -1 is not a positive number"),
    (lambda w: stview.detect(w / "clip.avi", detector="nosuch"), ValueError,
     r"detector: unknown detector 'nosuch' \(harris, gabor, hessian, dense, trajectories\)"),
    (lambda w: stview.Detector((128, 96), detector="gabor", k=0.001), ValueError,
     "k: applies to harris only, not to gabor"),
    (lambda w: stview.detect(w / "clip.avi", detector="dense", threshold=0), ValueError,
     "threshold: dense"),
    (lambda w: stview.detect(w / "clip.avi", first="3"), ValueError, "first: expected a whole"),
    (lambda w: stview.Detector((128, 96), scales=5), ValueError, "scales: expected"),
    (lambda w: stview.Detector((128, 96), threads=0), ValueError, "threads: 0 is out of range"),
    (lambda w: stview.detect(w / "clip.avi", descriptors="hug"), ValueError, "descriptors"),
    (lambda w: stview.detect(w / "clip.avi", first=5, last=2), ValueError, "last: 2"),
    (lambda w: stview.Detector((128, 96), k=float("nan")), ValueError,
     "k: nan is not a finite number"),
    (lambda w: stview.Detector((128, 96), color="yuv"), ValueError, "color"),
    (lambda w: stview.Detector((4000, 3000)), MemoryError, "STVIEW_MEMORY_LIMIT"),
    (lambda w: stview.Detector((128, 96)).add(np.zeros((96, 128), np.float32)), ValueError,
     "frame 0: expected uint8"),
    (lambda w: stview.draw(np.zeros((96, 128, 3), np.uint8)[:, ::2], stview.Features([]), 0),
     ValueError, "packed pixels"),
    (lambda w: stview.render(w / "clip.avi", stview.Features([]), w / "x.mp4", quality=52),
     ValueError, "quality 52: H.264"),
    (lambda w: stview.render(w / "clip.avi", stview.Features([]), w / "x.avi", bitrate="z"),
     ValueError, "bitrate z"),
    (lambda w: stview.render(w / "clip.avi", stview.Features([]), w / "x.mp4", fps=0), ValueError,
     "fps 0: give frames per second"),
    (lambda w: stview.render(w / "clip.avi", stview.Features([]), w / "x.mp4", quality="5"),
     ValueError, "quality: expected a whole number"),
    (lambda w: stview.render(w / "clip.avi", stview.Features([]), w / "x.mp4", first=1000),
     OSError, "No frame to play in .*clip.avi from frame 1000"),
    (lambda w: stview.render(w / "clip.avi", stview.Features([]), w / "." / "clip.avi"),
     ValueError, "is the input video"),
    (lambda w: stview.read_features(w / "missing.txt"), FileNotFoundError, "missing.txt"),
    (lambda w: stview.read_features(w), IsADirectoryError, "folder"),
    (lambda w: stview.read_features(w / "bad.txt"), ValueError, "line 2"),
    (lambda w: stview.read_features(w / "clip.avi"), ValueError, "holds no point record"),
    (lambda w: stview.render(w / "clip.avi", w / "clip.avi", w / "x.mp4"), ValueError,
     "holds no point record"),
    (lambda w: stview.render(w / "clip.avi", w / "missing.txt", w / "x.mp4"), FileNotFoundError,
     "missing.txt"),
    (lambda w: stview.write_features(w, stview.Features(np.zeros((1, 7)))),
     IsADirectoryError, "folder"),
    (lambda w: stview.write_features(w / "x.txt", stview.Features([[0, 0.5, 0, 0, 4, 2, 1]])),
     ValueError, "x = 0.5"),
    (lambda w: stview.write_features(w / "no" / "x.txt", stview.Features(np.zeros((1, 7)))),
     FileNotFoundError, "no folder"),
    (lambda w: stview.Features(np.zeros((2, 7)), hog=np.zeros((2, 71))), ValueError, "hog"),
    (lambda w: stview.Features(np.zeros((2, 7)), tracks=np.zeros((2, 16))), ValueError,
     "tracks"),
    (lambda w: stview.concat([trajectory_features(2, np.random.default_rng(0)),
                              trajectory_features(2, np.random.default_rng(0), length=10)]),
     ValueError, "differ in shape"),
    (lambda w: (w / "track.txt").write_text("# columns: id x y t sigma2 tau2 value track[x]\n")
     and stview.read_features(w / "track.txt"), ValueError, "track"),
    (cut_hdf5, ValueError, "cut.h5: .*truncated"),
    (lambda w: stview.read_features(hdf5_file(w / "a.h5", hog=np.zeros((2, 72), np.float32))),
     ValueError, "a.h5: holds no dataset points"),
    (lambda w: stview.read_features(hdf5_file(w / "a.h5", points=np.zeros((2, 7), np.int32))),
     ValueError, "points does not hold floating-point numbers"),
    (lambda w: stview.read_features(hdf5_file(w / "a.h5", points=np.zeros((2, 8)))),
     ValueError, "points is 2 x 8, not N x 7"),
    (lambda w: stview.read_features(hdf5_file(w / "a.h5", points=np.zeros((2, 7)),
                                              hof=np.zeros((3, 90), np.float32))),
     ValueError, "hof has 3 rows, points 2"),
    (lambda w: stview.read_features(hdf5_file(w / "a.h5", 2, points=np.zeros((2, 7)))),
     ValueError, "format version 2 is newer"),
    (lambda w: stview.write_features(w / "x.h5", stview.Features([[0, 0.5, 0, 0, 4, 2, 1]])),
     ValueError, "x = 0.5"),
]


@pytest.mark.parametrize("call, error, words", BAD)
def test_bad_input_raises_and_harms_nothing(work, call, error, words, monkeypatch):
    monkeypatch.setenv("STVIEW_MEMORY_LIMIT", "200M")
    with pytest.raises(error, match=words):
        call(work)
    assert not (work / "x.txt").exists() and not (work / "x.mp4").exists()
    assert not (work / "x.h5").exists() and not list(work.glob(".*partial*"))
