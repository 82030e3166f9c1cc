"""stview.draw on trajectories against cv2's own polyline and circle of the track."""

import cv2
import numpy as np

import stview

YELLOW = (0, 255, 255)


def _lround(values):
    """C's lround: halves away from zero (numpy's round goes to even)."""
    return (np.sign(values) * np.floor(np.abs(values) + 0.5)).astype(np.int32)


def test_a_track_is_its_polyline_so_far_and_a_dot_on_its_frames(tmp_path):
    height, width = 48, 64
    # L = 6: frames t0 = 10 - 3 ... 13; halves round away from zero, points leave the frame.
    track = np.array([[2.5, 40.5], [10.49, 36.0], [18.0, 30.5], [30.0, 31.0], [41.5, 20.0],
                      [55.0, 8.0], [70.0, -3.5]])
    points = np.array([[0, 30, 24, 10, 64.0, 9.0, 80.0], [1, 5, 5, 10, 4.0, 1.0, 1.0]])
    tracks = np.stack([track, track + 1])
    features = stview.Features(points, tracks=tracks)
    path = tmp_path / "tracks.txt"
    stview.write_features(path, features)
    for frame in (6, 7, 10, 13, 14):
        expected = np.zeros((height, width, 3), np.uint8)
        step = frame - 7
        if 0 <= step <= 6:
            pixels = np.stack([_lround(track[:, 0]), height - _lround(track[:, 1])], axis=1)
            cv2.polylines(expected, [pixels[:step + 1]], False, YELLOW, 1, cv2.LINE_8)
            cv2.circle(expected, tuple(int(v) for v in pixels[step]), 2, YELLOW, 3, cv2.LINE_8)
        drawn = np.zeros_like(expected)
        stview.draw(drawn, features[:1], frame)
        np.testing.assert_array_equal(drawn, expected, err_msg=f"frame {frame}")
        # The file read back draws the same, and the second track on top of the first.
        both, read = np.zeros_like(expected), np.zeros_like(expected)
        stview.draw(both, features, frame)
        stview.draw(read, stview.read_features(path), frame)
        np.testing.assert_array_equal(both, read)
        assert (np.any(both != expected)) == (0 <= step <= 6)
        rgb = np.zeros_like(expected)
        stview.draw(rgb, features[:1], frame, color="rgb")
        np.testing.assert_array_equal(rgb, expected[..., ::-1])
