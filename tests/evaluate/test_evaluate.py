"""Action recognition: the kernel against its formula, KTH's names and split, and the real
command end to end on the synthetic action set."""

import json
import os
import pathlib
import pickle
import shutil
import subprocess
import sys

import numpy as np
import pytest

from stview.evaluate import bof, dataset

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_chi2_distances_and_kernel_follow_the_formula():
    rng = np.random.default_rng(1)
    hists = {ch: rng.random((5, 6)) * (rng.random((5, 6)) < 0.6) for ch in ("hog", "hof")}
    hists["hog"][0] = 0  # a video with no point
    plain = lambda a, b: 0.5 * sum((x - y) ** 2 / (x + y) for x, y in zip(a, b) if x + y)  # noqa
    dist = {ch: np.array([[plain(a, b) for b in h] for a in h]) for ch, h in hists.items()}
    means = {ch: d.sum() / (5 * 4) for ch, d in dist.items()}
    got = {ch: bof.chi2_distances(h, h) for ch, h in hists.items()}
    for ch in hists:
        np.testing.assert_allclose(got[ch], dist[ch], rtol=1e-12, atol=1e-15)
        assert bof.mean_distance(got[ch]) == pytest.approx(means[ch], rel=1e-12)
    kernel = np.exp(-(dist["hog"] / means["hog"] + dist["hof"] / means["hof"]))
    np.testing.assert_allclose(bof.chi2_kernel(got, means), kernel, rtol=1e-12)


def test_kth_names_layouts_and_splits(tmp_path):
    names = {"person01_boxing_d1_uncomp.avi": (1, "boxing", 1), "person25_handclapping_d4_uncomp.avi":
             (25, "handclapping", 4), "person01_boxing_d1.avi": None, "boxing_001.avi": None}
    assert {name: dataset.parse_kth_name(name) for name in names} == names
    for person in (1, 2, 10, 11, 22):
        for action in ("boxing", "walking"):
            (tmp_path / f"person{person:02d}_{action}_d1_uncomp.avi").touch()
    (tmp_path / "notes.txt").touch()
    videos = dataset.list_videos(tmp_path)
    train, test = dataset.split_videos(videos, "kth", 0.3, 0)
    assert [(v.person, v.label) for v in test] == [(p, a) for p in (2, 10, 22) for a in ("boxing", "walking")]
    assert {v.person for v in train} == {1, 11}
    (tmp_path / "split.txt").write_text("# test\nperson11_walking_d1_uncomp.avi\n\n./person01_boxing_d1_uncomp.avi\n")
    train, test = dataset.split_videos(videos, "file", 0.3, 0, tmp_path / "split.txt")
    assert [v.path for v in test] == ["person01_boxing_d1_uncomp.avi", "person11_walking_d1_uncomp.avi"]
    for label in ("a", "b"):
        for i in range(10):
            (tmp_path / "folders" / label).mkdir(parents=True, exist_ok=True)
            (tmp_path / "folders" / label / f"{i}.MP4").touch()
    videos = dataset.list_videos(tmp_path / "folders")
    runs = [dataset.split_videos(videos, None, 0.3, seed) for seed in (0, 0, 1)]
    assert runs[0] == runs[1] != runs[2] and [v.label for v in runs[0][1]] == ["a"] * 3 + ["b"] * 3


def command(*args, check=None, env=None):
    result = subprocess.run([sys.executable, "-m", "stview.evaluate", *map(str, args)],
                            capture_output=True, text=True, env=env)
    assert "Traceback" not in result.stderr
    if check is not None:
        assert result.returncode == check, result.stderr
    return result


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    folder = tmp_path_factory.mktemp("actions")
    subprocess.run([sys.executable, ROOT / "samples/make_actions.py", folder / "data", "--per-class", "24",
                    "--seed", "1"], check=True)
    args = [folder / "data", folder / "out", "--words", "100", "--sample", "20000", "-j", "2",
            "--", "--threshold", "1e-8"]
    first = command(*args, check=0)
    return folder, args, first


def test_end_to_end_on_the_synthetic_set(run):
    folder, args, first = run
    results = json.loads((folder / "out/results.json").read_text())
    assert results["accuracy"] >= 0.9 and "accuracy" in first.stdout
    assert results["classes"] == ["bounce", "left", "right", "spin", "stripes_h", "stripes_v"]
    assert len(results["test_videos"]) >= 40 and results["failed"] == []
    assert sorted(results["test_videos"] + results["train_videos"]) == sorted(
        str(p.relative_to(folder / "data")) for p in (folder / "data").rglob("*.avi"))
    assert results["test_videos"] == sorted(results["test_videos"]) and str(folder) not in json.dumps(results)
    assert np.array(results["confusion"]).sum() == len(results["test_videos"])
    assert all(results["per_class"][c] is not None for c in results["classes"])
    assert (folder / "out/confusion.png").read_bytes()[:4] == b"\x89PNG"
    before = (folder / "out/results.json").read_bytes()
    unset = {name: value for name, value in os.environ.items() if name != "STDETECT"}
    again = command(*args, check=0, env=unset)  # this install's stdetect, not named as STDETECT's
    assert (folder / "out/results.json").read_bytes() == before
    assert "(from STDETECT)" in first.stderr and "(from STDETECT)" not in again.stderr
    videos = [folder / "data" / name for name in results["test_videos"][:6:2]]
    lines = command("predict", folder / "out", *videos, check=0).stdout.splitlines()
    assert lines == [f"{video} {video.parent.name}" for video in videos]


def test_bad_inputs_get_their_status_and_one_line(run, tmp_path):
    folder, args, _ = run
    data, out = folder / "data", folder / "out"
    (tmp_path / "empty").mkdir()
    (tmp_path / "ghost.txt").write_text("left/none.avi\n")
    (tmp_path / "all-spin.txt").write_text("".join(f"spin/spin_{i:03d}.avi\n" for i in range(24)))
    with open(out / "model", "rb") as stream:  # the same model, as another version wrote it
        header = pickle.load(stream)
        rest = stream.read()
    shutil.copytree(out, tmp_path / "stale", ignore=shutil.ignore_patterns("features"))
    (tmp_path / "stale/model").write_bytes(pickle.dumps({**header, "sklearn": "0.1"}) + rest)
    cases = [
        ([tmp_path / "missing", tmp_path / "o"], 2, "no dataset folder"),
        ([tmp_path / "empty", tmp_path / "o"], 2, "no video"),
        ([data, tmp_path / "o", "--words", "0"], 2, "--words"),
        ([data, tmp_path / "o", "--encoding", "fisher", "--gaussians", "0"], 2, "--gaussians"),
        ([data, tmp_path / "o", "--encoding", "vlad"], 2, "--encoding: needs bof or fisher"),
        ([data, tmp_path / "o", "--gaussians", "8"], 2, "give it with --encoding fisher"),
        ([data, tmp_path / "o", "--encoding", "fisher", "--words", "8"], 2, "takes --gaussians"),
        ([data, tmp_path / "o", "--channels", "mbh"], 2, "features have hog,hof, not mbh"),
        ([data, out, "--encoding", "fisher", "--gaussians", "50000", "--sample", "50000", "--",
          "--threshold", "1e-8"], 1, "fewer than --gaussians 50000: --gaussians"),
        (["compare", data, tmp_path / "o", "--options", "nosuch=-k 1"], 2, "DETECTOR one of"),
        (["compare", data, tmp_path / "o", "--options", "gabor=--k 0.04"], 2,
         "--options gabor=...: stdetect: --k: applies to harris only"),
        ([data, tmp_path / "o", "--", "--descriptors", "hog"], 2, "--descriptors"),
        ([data, tmp_path / "o", "--", "--detector", "nosuch"], 2, "--detector: unknown detector"),
        ([data, tmp_path / "o", "--split", tmp_path / "ghost.txt"], 2, "left/none.avi"),
        ([data, tmp_path / "o", "--split", tmp_path / "all-spin.txt"], 1, "no training video of class spin"),
        ([data, out, "--words", "50000", "--sample", "50000", "--", "--threshold", "1e-8"], 1, "or fewer would fit"),
        ([data, out, "--", "--scales", "4:2"], 2, "were made with"),
        ([data, out, "--", "--threads", "2"], 2, "--threads is set for each video"),
        ([data, tmp_path / "o", "--", "-o", "x"], 2, "-o is set for each video"),
        (["predict", tmp_path, data / "left/left_000.avi"], 1, "no model"),
        (["predict", tmp_path / "stale", data / "left/left_000.avi"], 1,
         "made with scikit-learn 0.1, this is scikit-learn"),
    ]
    for arguments, status, message in cases:
        result = command(*arguments, check=status)
        assert message in result.stderr.strip().splitlines()[-1], arguments
    assert not (tmp_path / "o").exists()


@pytest.mark.parametrize("gaussians, width, count", [(1, 6, 30), (3, 7, 0), (4, 12, 40), (5, 9, 1)])
def test_fisher_vector_follows_the_formula(monkeypatch, gaussians, width, count):
    from stview.evaluate import fisher
    rng = np.random.default_rng(gaussians)
    encoder = fisher.fit_encoder(rng.random((200, width), dtype=np.float32), gaussians, 0)
    descriptors = rng.random((count, width), dtype=np.float32)
    monkeypatch.setattr(fisher, "CHUNK", 7)  # several chunks per video
    got = encoder.encode(descriptors)
    mix, d = encoder.mixture, width // 2
    u, v = np.zeros((gaussians, d)), np.zeros((gaussians, d))
    for descriptor in descriptors:  # one descriptor at a time, as the formula reads
        x = encoder.pca.transform(descriptor[None].astype(np.float64))[0]
        for k, gamma in enumerate(mix.predict_proba(x[None])[0]):
            z = (x - mix.means_[k]) / np.sqrt(mix.covariances_[k])
            u[k] += gamma * z / (count * np.sqrt(mix.weights_[k]))
            v[k] += gamma * (z * z - 1) / (count * np.sqrt(2 * mix.weights_[k]))
    phi = np.concatenate([u.ravel(), v.ravel()])
    phi = np.sign(phi) * np.sqrt(np.abs(phi))
    phi = phi / np.linalg.norm(phi) if count else phi
    assert got.dtype == np.float32 and got.shape == (2 * gaussians * d,)
    np.testing.assert_allclose(got, phi, rtol=1e-4, atol=1e-6)


def test_fisher_run_and_a_small_comparison(run, tmp_path):
    folder, args, _ = run
    shutil.copytree(folder / "out/features", tmp_path / "fisher/features")
    shutil.copy(folder / "out/detector-options.json", tmp_path / "fisher")
    fisher_args = [folder / "data", tmp_path / "fisher", "--encoding", "fisher", "--gaussians", "4",
                   "--sample", "20000", "--", "--threshold", "1e-8"]
    command(*fisher_args, check=0)
    first = (tmp_path / "fisher/results.json").read_bytes()
    results = json.loads(first)
    assert results["accuracy"] >= 0.6 and results["options"]["encoding"] == "fisher"
    assert results["options"]["gaussians"] == 4 and results["options"]["words"] is None
    command(*fisher_args, check=0)
    assert (tmp_path / "fisher/results.json").read_bytes() == first
    video = folder / "data" / results["test_videos"][0]
    assert command("predict", tmp_path / "fisher", video, check=0).stdout.split()[0] == str(video)

    subprocess.run([sys.executable, ROOT / "samples/make_actions.py", tmp_path / "small", "--per-class", "5",
                    "--seed", "2"], check=True, capture_output=True)
    compare = ["compare", tmp_path / "small", tmp_path / "cmp", "--detectors", "harris,dense", "--words", "20",
               "--gaussians", "2", "--sample", "5000", "-j", "2", "--options", "harris=--threshold 1e-8"]
    made = command(*compare, check=0)
    table = json.loads((tmp_path / "cmp/comparison.json").read_text())
    assert [(r["detector"], "+".join(r["channels"]), r["encoding"]) for r in table["runs"]] == [
        (d, c, e) for d in ("harris", "dense") for e in ("bof", "fisher") for c in ("hog", "hof", "hog+hof")]
    assert all(table["detectors"][d]["points_per_video"] > 0 for d in ("harris", "dense"))
    assert "| HOG | " in made.stdout and (tmp_path / "cmp/comparison.png").read_bytes()[:4] == b"\x89PNG"
    # A run of the comparison is the run the evaluation makes alone with the same features.
    shutil.copytree(tmp_path / "cmp/dense/features", tmp_path / "alone/features")
    shutil.copy(tmp_path / "cmp/dense/detector-options.json", tmp_path / "alone")
    command(tmp_path / "small", tmp_path / "alone", "--encoding", "fisher", "--gaussians", "2", "--sample",
            "5000", "--channels", "hof", "--", "--detector", "dense", check=0)
    assert ((tmp_path / "alone/results.json").read_bytes()
            == (tmp_path / "cmp/dense/hof-fisher/results.json").read_bytes())
    shutil.rmtree(tmp_path / "cmp/harris/hog-fisher")  # as an interrupted comparison leaves it
    again = command(*compare, check=0)
    assert "run 6 of 12: harris hog-fisher" in again.stderr and again.stderr.count(": run ") == 1
    assert json.loads((tmp_path / "cmp/comparison.json").read_text())["runs"] == table["runs"]
