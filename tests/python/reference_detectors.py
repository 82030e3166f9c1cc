"""Whole-volume models of stdetect's point detectors, for the agreement tests.

Everything is held in memory and computed in float64 with numpy and scipy.ndimage, so
the model shares nothing with the streaming float32 code it checks. Volumes are indexed
(t, row, column) over the processed range only; every stage pads its own input by
repeating the outermost sample (correlate1d with mode="nearest", one axis at a time).
Records are rows (x, y, t, sigma2, tau2, value), y = height - row, t absolute, sorted
by t, sigma2, tau2, row, column.
"""

import math

import numpy as np
from scipy.ndimage import correlate1d

THRESHOLDS = {"harris": 1e-8, "gabor": 1e-3, "hessian": 1e-4}
DEFAULT_SCALES = ((4, 8, 16, 32, 64), (2, 4))
T, ROW, COL = 0, 1, 2
ULP = 2.0 ** -24  # float32 rounding, relative


def bgr_to_grey(bgr):
    """uint8 (..., 3) BGR to uint8 grey, rounded as OpenCV's COLOR_BGR2GRAY rounds."""
    b, g, r = (bgr[..., i].astype(np.int64) for i in range(3))
    return ((b * 1868 + g * 9617 + r * 4899 + (1 << 13)) >> 14).astype(np.uint8)


def gaussian(variance):
    """Taps exp(-j^2 / 2v), j = -floor(3 sqrt v) .. floor(3 sqrt v), summing to 1."""
    half = int(math.floor(3 * math.sqrt(variance)))
    j = np.arange(-half, half + 1, dtype=np.float64)
    taps = np.exp(-j * j / (2 * variance))
    return taps / taps.sum()


def filt(a, taps, axis):
    return correlate1d(a, np.asarray(taps, np.float64), axis=axis, mode="nearest")


def smooth(a, s2, t2=None):
    out = filt(filt(a, gaussian(s2), COL), gaussian(s2), ROW)
    return out if t2 is None else filt(out, gaussian(t2), T)


def diff(a, axis):
    return filt(a, (-0.5, 0.0, 0.5), axis)


def harris(f, s2, t2, k):
    L = smooth(f, s2, t2)
    s, t = math.sqrt(s2), math.sqrt(t2)
    gx, gy, gt = s * diff(L, COL), s * diff(L, ROW), t * diff(L, T)
    xx, yy, tt, xy, xt, yt = (smooth(p, 2 * s2, 2 * t2) for p in
                              (gx * gx, gy * gy, gt * gt, gx * gy, gx * gt, gy * gt))
    det = xx * (yy * tt - yt * yt) - xy * (xy * tt - yt * xt) + xt * (xy * yt - yy * xt)
    return det - k * (xx + yy + tt) ** 3, 0.0  # its float32 rounding: ~1e-6 relative, no more


def gabor(f, s2, t2, k=None):
    S = smooth(f, s2)
    tau = math.sqrt(t2)
    j = np.arange(-math.floor(3 * tau), math.floor(3 * tau) + 1, dtype=np.float64)
    envelope = np.exp(-j * j / t2)
    even = -np.cos(4 * j / tau) * envelope
    even -= even.mean()
    odd = -np.sin(4 * j / tau) * envelope
    E, O = filt(S, even, T), filt(S, odd, T)
    # one unit of float32 rounding in S (at most 1) carried to first order into R
    rounding = 2 * ULP * (np.abs(E) * np.abs(even).sum() + np.abs(O) * np.abs(odd).sum())
    return E * E + O * O, rounding


def hessian(f, s2, t2, k=None):
    L = smooth(f, s2, t2)
    s, t = math.sqrt(s2), math.sqrt(t2)
    second = lambda axis: filt(L, (1.0, -2.0, 1.0), axis)  # noqa: E731
    xx, yy, tt = s2 * second(COL), s2 * second(ROW), t2 * second(T)
    dx, dy = diff(L, COL), diff(L, ROW)
    xy, xt, yt = s2 * diff(dx, ROW), s * t * diff(dx, T), s * t * diff(dy, T)
    c00, c11, c22 = yy * tt - yt * yt, xx * tt - xt * xt, xx * yy - xy * xy
    c01, c02, c12 = xy * tt - yt * xt, xy * yt - yy * xt, xx * yt - xy * xt
    # one unit of float32 rounding in each difference of L (at most 1), through the cofactors
    rounding = ULP * (s2 * (abs(c00) + abs(c11) + 2 * abs(c01)) + t2 * abs(c22)
                      + 2 * s * t * (abs(c02) + abs(c12)))
    return np.abs(xx * c00 - xy * c01 + xt * c02), rounding


RESPONSES = {"harris": harris, "gabor": gabor, "hessian": hessian}


def maxima(R):
    """Boolean volume: inside the point rule's box and strictly above all 26 neighbours
    (every comparison with NaN is false: a NaN is never a maximum, nor is its neighbour)."""
    n, h, w = R.shape
    core = R[1:-1, 1:-1, 1:-1]
    win = np.ones(core.shape, bool)
    for dt in (-1, 0, 1):
        for dy in (-1, 0, 1):
            for dx in (-1, 0, 1):
                if dt or dy or dx:
                    win &= core > R[1 + dt:n - 1 + dt, 1 + dy:h - 1 + dy, 1 + dx:w - 1 + dx]
    out = np.zeros(R.shape, bool)
    out[1:-1, 1:-1, 1:-1] = win
    return out


def sort_records(rows):
    rows = np.array(rows, np.float64).reshape(-1, 6)
    # x, y, t, sigma2, tau2: y falls as the row grows
    return rows[np.lexsort((rows[:, 0], -rows[:, 1], rows[:, 4], rows[:, 3], rows[:, 2]))]


def processed(grey, first=0, last=None):
    """f over the processed range: float64 grey / 255."""
    last = len(grey) if last is None else min(last, len(grey))
    return grey[first:last].astype(np.float64) / 255.0


def responses(grey, detector, scales=DEFAULT_SCALES, k=0.0005, first=0, last=None):
    """{(sigma2, tau2): (response volume over the processed range, the scale of its
    float32 rounding: a volume, or 0 where relative rounding is negligible)}."""
    f = processed(grey, first, last)
    return {(s2, t2): RESPONSES[detector](f, s2, t2, k) for t2 in scales[1] for s2 in scales[0]}


def detect(grey, detector="harris", scales=DEFAULT_SCALES, k=0.0005, threshold=None,
           first=0, last=None):
    """Records of `detector` on grey frames (N, H, W) uint8 of the whole video."""
    if detector == "dense":
        end = len(grey) if last is None else min(last, len(grey))
        return dense(grey.shape[2], grey.shape[1], scales, first, end)
    threshold = THRESHOLDS[detector] if threshold is None else threshold
    height = grey.shape[1]
    rows = []
    for (s2, t2), (R, _) in responses(grey, detector, scales, k, first, last).items():
        t, r, c = np.nonzero(maxima(R) & (R > threshold))
        rows += zip(c, height - r, t + first, [s2] * len(t), [t2] * len(t), R[t, r, c])
    return sort_records(rows)


def dense(width, height, scales, first, end):
    """The dense grid: boxes overlapping by half, inside the frame and the range."""
    half_up = lambda v: math.floor(v + 0.5)  # lround of a positive value  # noqa: E731
    grid = lambda box, start, stop: range(start + box // 2, stop - box + box // 2 + 1,  # noqa
                                          max(1, box // 2))
    rows = []
    for s2 in scales[0]:
        for t2 in scales[1]:
            n = max(3, half_up(18 * math.sqrt(s2)))
            m = max(3, half_up(8 * math.sqrt(t2)))
            rows += [(x, height - r, t, s2, t2, 0.0) for t in grid(m, first, end)
                     for r in grid(n, 0, height) for x in grid(n, 0, width)]
    return sort_records(rows)
