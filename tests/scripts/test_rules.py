"""The dataset runner's rules with no engine: videos, output names, sampling, options,
Slurm shares, stdetect's reports, the tasks' results, the summary and the command line.
Standard library and pytest only (runs in the sanitizer build, which has no module)."""

import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))

import stview.dataset as ds  # noqa: E402
from stview.dataset import engines, runner  # noqa: E402


def test_which_files_are_videos_and_their_outputs():
    names = {"a.avi": True, "b.MP4": True, "c.Mkv": True, "d.txt": False, "e": False, "f.avi.bak": False,
             ".mov": True, "g.tar.webm": True, "h.y4m": True, "i.mpeg4": False}
    assert {name: ds.is_video(name) for name in names} == names
    videos = ["a/clip1.avi", "a/clip1.MP4", "a/x.mov", "b/x.mov", "b c/clip 2.mkv", "c.d/e", "top.ts"]
    assert ds.output_names(videos) == {
        "a/clip1.avi": "a/clip1.avi.txt", "a/clip1.MP4": "a/clip1.MP4.txt", "a/x.mov": "a/x.txt",
        "b/x.mov": "b/x.txt", "b c/clip 2.mkv": "b c/clip 2.txt", "c.d/e": "c.txt", "top.ts": "top.txt"}


def test_listing_resuming_and_sampling(tmp_path):
    for name in ("b/2.avi", "a/Z.mkv", "a/a.MOV", "a/notes.txt", "B.mp4"):
        (tmp_path / "in" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "in" / name).write_text("x")
    os.symlink(tmp_path / "in/B.mp4", tmp_path / "in/b/link.avi")
    os.symlink(tmp_path / "nowhere", tmp_path / "in/b/dangling.avi")
    os.symlink(tmp_path / "in/a", tmp_path / "in/b/folder.avi")
    videos = ds.list_videos(tmp_path / "in")
    assert videos == ["B.mp4", "a/Z.mkv", "a/a.MOV", "b/2.avi", "b/link.avi"]
    names = ds.output_names(videos)
    (tmp_path / "out/a").mkdir(parents=True)
    (tmp_path / "out/a/Z.txt").write_text("")
    (tmp_path / "out/b").mkdir()
    (tmp_path / "out/b/2.txt").mkdir()  # a folder is no output
    assert ds.to_do(videos, names, tmp_path / "out") == (["B.mp4", "a/a.MOV", "b/2.avi", "b/link.avi"], 1)
    cases = {0: [], 1: [0], 3: [0, 1, 2], 5: [0, 1, 2, 3, 4], 7: [0, 1, 2, 4, 5], 100: [0, 20, 40, 60, 80]}
    assert {count: ds.sample_indexes(count) for count in cases} == cases


def test_options_and_slurm_shares():
    for option in ("-v", "-o", "--threads", "--report"):
        with pytest.raises(ds.DatasetError, match=f"^{option} is set for each video") as raised:
            ds.check_user_options(["--scales", "4:2", option, "x"])
        assert raised.value.status == 2
    ds.check_user_options(["--scales", "4:2", "--k", "0.001"])
    assert ds.need_options(["--k", "1", "--scales", "4:2", "--detector", "gabor", "--descriptors"], 3) == [
        "--threads", "3", "--scales", "4:2", "--detector", "gabor"]
    pairs = {(): 10, ("--scales", "4:2"): 1, ("--scales", "4,8,16:2,4"): 6, ("--scales", "bad"): 10}
    assert {options: ds.scale_pairs(list(options)) for options in pairs} == pairs
    # count, max array, sampled, frames, frame, pairs, cpus -> videos per task
    shares = [((10, 1001, 0, 0, (640, 480), 10, 1), 1), ((5000, 1001, 0, 0, (640, 480), 10, 1), 5),
              ((100, 1001, 2, 24, (48, 36), 1, 1), 100), ((100, 1001, 1, 100, (640, 480), 10, 1), 1),
              ((1000, 1001, 1, 10, (640, 480), 1, 1), 85), ((1000, 1001, 1, 10, (640, 480), 1, 4), 340),
              ((3, 1, 1, 10 ** 6, (640, 480), 10, 1), 3)]
    assert [ds.videos_per_task(*arguments) for arguments, _ in shares] == [share for _, share in shares]


def test_stdetect_reports_fill_results(tmp_path):
    reports = [
        ({"status": "done", "points": 7, "frames_read": 12, "frames_announced": 12, "seconds": 0.5,
          "error": "", "warning": ""}, ("done", 7, "", "")),
        ({"status": "done", "points": 3, "frames_read": 20, "frames_announced": 48, "error": "",
          "warning": "in/./a/cut.avi ended after 20 of the 48 frames its file announces (truncated?)"},
         ("done", 3, "", "ended after 20 of the 48 frames its file announces (truncated?)")),
        ({"status": "failed", "error": "could not open the video x.avi"},
         ("failed", 0, "stdetect: could not open the video x.avi", "")),
        ({"status": "interrupted", "error": ""}, ("interrupted", 0, "", "")),
        ({"status": "bad-options", "error": "--k: 'x' is not a number"}, ("failed", 0, "stdetect: --k: 'x' is not a number", "")),
        (None, ("not started", 0, "", "")),
    ]
    for report, (status, points, error, warning) in reports:
        result = ds.Result("v.avi", "v.txt")
        ds.apply_report(result, report)
        assert (result.status, result.points, result.error, result.warning) == (status, points, error, warning)
    (tmp_path / "r.json").write_text('{"status": "done", "points": 2}')
    (tmp_path / "half.json").write_text('{"status": "do')
    assert ds.read_report(tmp_path / "r.json") == {"status": "done", "points": 2}
    assert ds.read_report(tmp_path / "half.json") is None and ds.read_report(tmp_path / "none") is None


def test_slurm_task_results_and_job_log(tmp_path):
    out = tmp_path / "out"
    logs = out / "detect-dataset.slurm"
    logs.mkdir(parents=True)
    videos = ["a.avi", "b.avi", "c.avi", "d.avi", "e.avi", "f.avi"]
    for name in ("a.txt", "d.txt"):
        (out / name).write_text("# header\n1 2 3\n4 5 6\n")
    (logs / "7_0.results").write_text(
        "0\twarning\tstdetect: warning: a.avi ended after 2 of the 9 frames its file announces\n"
        '0\t0\t\t{"status": "done", "points": 2, "warning": "a.avi ended after 2 of the 9 frames"}\n'
        '1\t1\tstdetect: could not open\t{"status": "failed", "error": "could not open b.avi"}\n')
    (logs / "7_1.results").write_text("2\t0\talready done\n3\t0\t\n4\tstopped\tstopped by Slurm while detecting\n"
                                      "garbage\n9\t0\tno such video\n")
    (logs / "7_2.log").write_text("task\nslurmstepd: error: *** JOB 9 ON n CANCELLED AT 2026 ***\n")
    plan = engines.Plan("stdetect", [], tmp_path, out, [ds.Result(v, v[0] + ".txt") for v in videos])
    notes = engines.read_array_results(plan, "7", 2)
    got = [(r.status, r.points, r.error, r.warning) for r in plan.results]
    assert got == [("done", 2, "", "ended after 2 of the 9 frames"), ("failed", 0, "stdetect: could not open b.avi", ""),
                   ("failed", 0, "already done", ""), ("done", 2, "", ""),
                   ("failed", 0, "stopped by Slurm while detecting", ""), ("not started", 0, "", "")]
    assert notes == ["task 7_2 left 1 videos: *** JOB 9 ON n CANCELLED AT 2026 ***"]
    (logs / "7_2.log").unlink()
    assert engines.read_array_results(plan, "7", 2) == ["task 7_2 left 1 videos: the task never started"]
    (tmp_path / "joblog").write_text("Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n"
                                     "1\t:\t0\t0\t0\t0\t1\t0\tx\n2\t:\t0\t0\t0\t0\t0\t9\ty\n3\tshort\n")
    assert engines._joblog_ends(tmp_path / "joblog", 0) == {1: "exit status 1", 2: "killed by signal 9"}
    assert engines._joblog_ends(tmp_path / "joblog", 2) == {2: "killed by signal 9"}
    for text in ("", "/tmp/a b", "x" * 300):
        assert engines.cksum(text.encode()) == int(subprocess.run(["cksum"], input=text.encode(),
                                                                  capture_output=True).stdout.split()[0])


def test_summary_lines_and_status(tmp_path):
    def result(status, points=0, error="", warning=""):
        return ds.Result(f"{status}.avi", "x.txt", status, points, error=error, warning=warning)

    runs = [
        ([result("done", 5), result("done", 2, warning="ended after 1 of the 9 frames")], 1, False,
         ["2 done, 0 failed, 1 skipped as already done, 7 points written to OUT",
          "warning: done.avi: ended after 1 of the 9 frames"], 0),
        ([result("done", 1), result("failed", error="stdetect: bad"), result("failed")], 0, False,
         ["1 done, 2 failed, 0 skipped as already done, 1 points written to OUT",
          "failed: failed.avi: stdetect: bad", "failed: failed.avi: stopped without an error line"], 1),
        ([result("interrupted"), result("not started")], 3, True,
         ["0 done, 0 failed, 3 skipped as already done, 1 interrupted, 1 not started, 0 points written to OUT",
          "interrupted: interrupted.avi", "interrupted; the same command goes on where this run stopped"], 130),
        ([result("interrupted")], 0, False,
         ["0 done, 0 failed, 0 skipped as already done, 1 interrupted, 0 points written to OUT",
          "interrupted: interrupted.avi"], 1),
        ([], 4, False, ["0 done, 0 failed, 4 skipped as already done, 0 points written to OUT"], 0),
    ]
    for results, skipped, interrupted, lines, status in runs:
        summary = ds.Summary(results, skipped, pathlib.Path("OUT"), interrupted=interrupted)
        assert (summary.lines(), summary.status()) == (lines, status)


def test_command_line_refusals(tmp_path):
    (tmp_path / "logins").write_text(":\n")
    refusals = [
        (["-j", "0", "IN", "OUT"], "-j needs a positive number of jobs, not '0'"),
        (["-j"], "-j needs a value"), (["--frob", "IN", "OUT"], "unknown option --frob"),
        (["IN"], "need IN_DIR and OUT_DIR"), (["IN", "OUT", "more"], "need IN_DIR and OUT_DIR"),
        (["NONE", "OUT"], "no folder NONE"),
        (["--shared", "IN", "OUT"], "--shared goes with --sshloginfile"),
        (["--per-task", "2", "IN", "OUT"], "--per-task, --cpus-per-task, --sbatch and --no-wait go with --slurm"),
        (["--sshloginfile", "NONE", "IN", "OUT"], "cannot read the ssh login file NONE"),
        (["--slurm", "--sshloginfile", "LOGINS", "IN", "OUT"], "two engines"),
        (["--slurm", "-j", "2", "IN", "OUT"], "-j goes with the parallel engine"),
        (["--slurm", "--per-task", "x", "IN", "OUT"], "--per-task needs a positive number of videos, not 'x'"),
        (["--slurm", "--cpus-per-task", "0", "IN", "OUT"], "--cpus-per-task needs a positive number"),
        (["--slurm", "--sbatch", "--array=1", "IN", "OUT"], "--sbatch --array=1: the script sets that itself"),
        (["--slurm", "--sbatch", "-c4", "IN", "OUT"], "--sbatch -c4: the script sets that itself"),
        (["--slurm", "--sbatch", "--hold", "IN", "OUT"], "--sbatch --hold: the script sets that itself"),
        (["--slurm", "--sbatch", "cpu", "IN", "OUT"], "takes one option word"),
    ]
    names = {"IN": str(tmp_path), "LOGINS": str(tmp_path / "logins"), "NONE": str(tmp_path / "none")}
    for argv, message in refusals:
        argv = [names.get(word, word) for word in argv]
        with pytest.raises(ds.DatasetError) as raised:
            runner.parse(argv)
        assert raised.value.status == 2 and raised.value.args[0].endswith("(see detect-dataset.sh --help)")
        assert message.replace("NONE", names["NONE"]) in raised.value.args[0], argv
    args = runner.parse(["-j", "3", str(tmp_path), "o", "--", "--scales", "4:2", "-j", "x"])
    assert (args.jobs, args.out_dir, args.options, args.cpus) == (3, "o", ["--scales", "4:2", "-j", "x"], 1)
    assert runner.parse(["IN", "--help"]) is None


def test_the_runner_imports_the_standard_library_only():
    code = "import sys, stview.dataset.runner; print(sorted({'numpy', 'stview._core'} & set(sys.modules)))"
    found = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                           env=dict(os.environ, PYTHONPATH=str(ROOT / "python")), check=True).stdout
    assert found.strip() == "[]"
