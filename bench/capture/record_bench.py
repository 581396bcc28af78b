#!/usr/bin/env python3
"""Screen recording cost: tavolu-capture against ffmpeg's x11grab with the same encoder settings.

Records a 1920x1080 display at 30 fps for 10 s twice per tool: once with continuous motion over
the whole screen, once with a mostly still desktop (a small window that changes twice a second).
Reports CPU seconds per recorded second and dropped frames, and our figures as ratios of
ffmpeg's. Needs DISPLAY (a 1920x1080 X server); run it through bench/capture/run-record-bench.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

BIN = os.environ.get("TAVOLU_BIN", os.path.join(os.path.dirname(__file__), "../../build/bin"))
SECONDS = float(os.environ.get("BENCH_SECONDS", "10"))
FPS = 30
PRESET = os.environ.get("BENCH_PRESET", "veryfast")


def bit_rate(w, h, fps):
    return max(12_000_000, min(120_000_000, int(w * h * fps * 0.24)))


def cpu_of(proc):
    """Waits for `proc` and returns its user+system CPU seconds (children included)."""
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return usage.ru_utime + usage.ru_stime


def run_tavolu(out_dir, display_id):
    video = os.path.join(out_dir, "tavolu.mp4")
    p = subprocess.Popen([os.path.join(BIN, "tavolu-capture")], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    p.stdin.write(json.dumps({"command": "start", "source": display_id, "video": video,
                              "fps": FPS, "cursor": False}) + "\n")
    p.stdin.flush()
    finished = None
    for line in p.stdout:
        event = json.loads(line)
        if event["event"] == "started":
            time.sleep(SECONDS)  # the recording's length
            p.stdin.write('{"command":"stop"}\n')
            p.stdin.flush()
        elif event["event"] == "finished":
            finished = event
            p.stdin.close()
        elif event["event"] == "error":
            raise SystemExit("tavolu-capture failed: " + line)
    cpu = cpu_of(p)
    return cpu, finished["duration"], finished["droppedFrames"], finished["frames"]


def run_ffmpeg(out_dir):
    out = os.path.join(out_dir, "ffmpeg.mp4")
    cmd = ["ffmpeg", "-y", "-loglevel", "info", "-f", "x11grab", "-draw_mouse", "0",
           "-framerate", str(FPS), "-video_size", "1920x1080", "-i", os.environ["DISPLAY"],
           "-t", str(SECONDS), "-c:v", "libx264", "-preset", PRESET, "-profile:v", "high",
           "-bf", "0", "-g", str(2 * FPS), "-b:v", str(bit_rate(1920, 1080, FPS)),
           "-pix_fmt", "yuv420p", out]
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    err = []
    reader = threading.Thread(target=lambda: err.extend(p.stderr))
    reader.start()
    cpu = cpu_of(p)
    reader.join()
    text = "".join(err)
    drops = re.findall(r"drop=\s*(\d+)", text)
    dups = re.findall(r"dup=\s*(\d+)", text)
    return cpu, SECONDS, int(drops[-1]) if drops else 0, int(dups[-1]) if dups else 0


def scene(kind):
    """Starts what is on screen; returns the processes to stop afterwards."""
    if kind == "motion":
        return [subprocess.Popen(["ffplay", "-loglevel", "quiet", "-f", "lavfi",
                                  "testsrc2=size=1920x1080:rate=30", "-x", "1920", "-y", "1080",
                                  "-left", "0", "-top", "0", "-noborder", "-an"],
                                 stdin=subprocess.DEVNULL)]
    win = subprocess.Popen([os.path.join(BIN, "tavolu-test-window"), "--width", "400",
                            "--height", "24", "--x", "700", "--y", "500"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    win.stdout.readline()

    def blink():
        colors = ["202020", "e0e0e0"]
        i = 0
        while win.poll() is None:
            try:
                win.stdin.write("color %s\n" % colors[i % 2])
                win.stdin.flush()
                win.stdout.readline()
            except (BrokenPipeError, ValueError):
                return
            i += 1
            time.sleep(0.5)
    threading.Thread(target=blink, daemon=True).start()
    return [win]


def main():
    listing = json.loads(subprocess.run([os.path.join(BIN, "tavolu-capture"), "--list"],
                                        capture_output=True, text=True).stdout)
    display_id = listing["sources"][0]["id"]
    print("Screen recording, 1920x1080 at %d fps, %g s, x264 preset %s, 2 cores" %
          (FPS, SECONDS, PRESET))
    print("%-8s %-10s %12s %10s %16s" % ("scene", "tool", "cpu s/rec s", "dropped", "frames written"))
    with tempfile.TemporaryDirectory() as out_dir:
        for kind in ("motion", "still"):
            procs = scene(kind)
            time.sleep(1.0)  # let the scene draw its first frames
            try:
                ours = run_tavolu(out_dir, display_id)
                theirs = run_ffmpeg(out_dir)
            finally:
                for p in procs:
                    p.kill()
                    p.wait()
            our_rate = ours[0] / ours[1]
            their_rate = theirs[0] / theirs[1]
            print("%-8s %-10s %12.3f %10d %16d" % (kind, "tavolu", our_rate, ours[2], ours[3]))
            print("%-8s %-10s %12.3f %10d %16s" % (kind, "ffmpeg", their_rate, theirs[2],
                                                    "%d dup" % theirs[3]))
            print("%-8s ratio tavolu/ffmpeg cpu: %.2f" % (kind, our_rate / their_rate))


if __name__ == "__main__":
    sys.exit(main())
