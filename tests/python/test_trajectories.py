"""detect() and Detector with detector="trajectories" against stdetect."""

import os
import subprocess

import numpy as np
import pytest

import stview

STDETECT = os.environ.get("STDETECT", "stdetect")


@pytest.fixture(scope="module")
def clip(tmp_path_factory):
    path = tmp_path_factory.mktemp("trajectories") / "clip.avi"
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                    "testsrc2=size=128x96:rate=25", "-frames:v", "20", "-c:v", "rawvideo",
                    "-pix_fmt", "bgr24", str(path)], check=True)
    return path


def test_trajectories_agree_with_stdetect(clip):
    out = clip.with_suffix(".txt")
    subprocess.run([STDETECT, "-v", str(clip), "-o", str(out), "--quiet", "--detector",
                    "trajectories"], check=True)
    f = stview.read_features(out)
    d = stview.detect(clip, detector="trajectories", threads=1)
    assert len(f) > 10 and d.points.tobytes() == f.points.tobytes()
    assert f.tracks.shape == (len(f), 16, 2) and np.array_equal(d.tracks, f.tracks)
    shapes = {"trajectory": 30, "hog": 96, "hof": 108, "mbh": 192}
    text = lambda a: [" ".join("%.4g" % v for v in row) for row in a]  # noqa: E731
    for name, width in shapes.items():
        assert getattr(f, name).shape == (len(f), width)
        assert text(getattr(d, name)) == text(getattr(f, name))
    det = stview.Detector((128, 96), detector="trajectories", descriptors="hof")
    frames = np.frombuffer(subprocess.run(
        ["ffmpeg", "-nostdin", "-v", "error", "-i", str(clip), "-f", "rawvideo", "-pix_fmt",
         "bgr24", "-"], check=True, capture_output=True).stdout, np.uint8).reshape(-1, 96, 128, 3)
    s = stview.concat([det.add(frame) for frame in frames] + [det.finish()])
    assert np.array_equal(s.points, d.points) and np.array_equal(s.hof, d.hof)
    assert s.hog is None and s.mbh is None and s.trajectory is None
    short = stview.detect(clip, detector="trajectories", last=10, trajectory_length=3,
                          trajectory_stride=8, trajectory_scales=2)
    assert len(short) > 0 and short.tracks.shape[1:] == (4, 2)


@pytest.mark.parametrize("keywords, words", [
    ({"scales": ((4,), (2,))}, "scales"),
    ({"k": 0.1}, "k"),
    ({"threshold": 1.0}, "threshold"),
    ({"trajectory_length": 2}, "trajectory-length"),
    ({"descriptors": "hog,sift"}, "sift"),
])
def test_trajectories_refuse_what_stdetect_refuses(clip, keywords, words):
    with pytest.raises(ValueError, match=words):
        stview.detect(clip, detector="trajectories", **keywords)


@pytest.mark.parametrize("size, frames, says", [
    ("128x96", 1, None), ("128x96", 10, None), ("24x40", 20, "smaller than the 32-pixel")])
def test_short_clips_and_small_frames_give_an_empty_file(tmp_path, size, frames, says):
    clip, out = tmp_path / "short.avi", tmp_path / "short.txt"
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                    f"testsrc2=size={size}:rate=25", "-frames:v", str(frames), "-c:v",
                    "rawvideo", "-pix_fmt", "bgr24", str(clip)], check=True)
    run = subprocess.run([STDETECT, "-v", str(clip), "-o", str(out), "--quiet", "--detector",
                          "trajectories"], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert (says is None) == (run.stderr == "") and (says or "") in run.stderr
    assert "track[32] trajectory[30] hog[96] hof[108] mbh[192]" in out.read_text()
    f = stview.read_features(out)
    assert len(f) == 0 and f.tracks.shape == (0, 16, 2) and f.mbh.shape == (0, 192)


def test_memory_need_grows_with_the_frame_and_the_cells():
    need = lambda *extra: int(subprocess.run(  # noqa: E731
        [STDETECT, "--detector", "trajectories", *extra], check=True, capture_output=True,
        text=True).stdout)
    small = need("--memory-need", "320x240")
    assert need("--memory-need", "640x480") > 2 * (small - (84 << 20))
    assert need("--memory-need", "320x240", "--trajectory-stride", "3") > small
