"""One frame of a video and a PNG of an image, through FFmpeg, for the README's picture
scripts (the BGR pixels OpenCV would decode)."""

import subprocess
from pathlib import Path

import numpy as np


def video_frame(video: str, number: int) -> np.ndarray:
    """Frame `number` (zero-based) of `video` as uint8 (H, W, 3), BGR."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-vf",
                          f"select=eq(n\\,{number})", "-frames:v", "1", "-f", "rawvideo",
                          "-pix_fmt", "bgr24", "-"], check=True, capture_output=True).stdout
    height = int(subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v",
                                 "-show_entries", "stream=height", "-of", "csv=p=0", video],
                                check=True, capture_output=True, text=True).stdout)
    return np.frombuffer(raw, np.uint8).reshape(height, -1, 3).copy()


def save_png(image: np.ndarray, path: Path) -> None:
    """Writes uint8 (H, W, 3) BGR `image` to `path` as PNG."""
    image = np.ascontiguousarray(image)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "bgr24",
                    "-s", f"{image.shape[1]}x{image.shape[0]}", "-i", "-", str(path)],
                   input=image.tobytes(), check=True)
