#!/usr/bin/python3
"""Per-frame steady-state cost of velnor -j 1 and ffmpeg's hqdn3d on clips.

For each clip pair (the same content at 60 and at 12 frames) every command runs
--rounds times, the commands taking turns within a round; per command the cost of
one frame is (median of the 60-frame runs - median of the 12-frame runs) / 48, so
start-up and the last frames' drain cancel out. Times are CPU time (user + system
of the process and its threads), which other processes on a shared machine disturb
far less than the clock; the clock's figures are printed beside them.

    steady_state.py --velnor PATH --clips DIR [--pass-ms FILE] [--rounds N]

DIR holds photo-s4-60.y4m, photo-s4-12.y4m, photo-s12-60.y4m, photo-s12-12.y4m,
and the same as 10-bit streams (photo10-...) where present: their per-frame cost is
also given over the 8-bit stream's. velnor at strength 0 filters nothing: its cost is
that of reading and checking the stream (the output goes to /dev/null, which takes it
for free). --pass-ms is frame_timing's output for the same
content (photo-s4, photo-s12 planes): with it, the best level's time outside the
pass is printed too.
"""
import argparse
import os
import statistics
import subprocess
import time

LONG, SHORT = 60, 12


def run(command, env):
    start = time.monotonic()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        raise SystemExit(f"steady_state: {' '.join(command)} failed ({status})")
    return usage.ru_utime + usage.ru_stime, wall


def pass_times(path):
    """{(content, level): median ms} from frame_timing's output."""
    times = {}
    for line in open(path):
        fields = line.split()
        if len(fields) == 4 and fields[0].startswith("photo"):
            times[(fields[0], fields[1])] = float(fields[2])
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--velnor", required=True)
    parser.add_argument("--clips", required=True)
    parser.add_argument("--pass-ms")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()

    base = dict(os.environ)
    base.pop("VELNOR_SIMD", None)
    commands = {
        "velnor -j 1 (best level)": (lambda clip: [args.velnor, "-j", "1", "--quiet", clip, "-o", "/dev/null"], {}),
        "velnor -j 1 (sse2)": (lambda clip: [args.velnor, "-j", "1", "--quiet", clip, "-o", "/dev/null"],
                               {"VELNOR_SIMD": "sse2"}),
        # strength 0 leaves every plane as it is: the cost of reading and checking alone
        "velnor -j 1 --strength 0": (lambda clip: [args.velnor, "-j", "1", "--quiet", "--strength", "0",
                                                   clip, "-o", "/dev/null"], {}),
        "ffmpeg hqdn3d=4:0:0:0": (lambda clip: ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                                "-threads", "1", "-filter_threads", "1", "-i", clip,
                                                "-vf", "hqdn3d=4:0:0:0", "-f", "null", "-"], {}),
    }
    best = subprocess.run([args.velnor, "--version"], capture_output=True, text=True).stdout.strip()
    print(f"{best}; {args.rounds} rounds; per frame = (median {LONG}-frame run - median "
          f"{SHORT}-frame run) / {LONG - SHORT}")
    passes = pass_times(args.pass_ms) if args.pass_ms else {}
    contents = ["photo-s4", "photo-s12"]
    contents += [f"photo10-s{sigma}" for sigma in (4, 12)
                 if os.path.exists(os.path.join(args.clips, f"photo10-s{sigma}-{LONG}.y4m"))]
    eight_bit = {}
    for content in contents:
        samples = {(name, n): ([], []) for name in commands for n in (LONG, SHORT)}
        for _ in range(args.rounds):
            for n in (LONG, SHORT):
                clip = os.path.join(args.clips, f"{content}-{n}.y4m")
                for name, (make, extra) in commands.items():
                    cpu, wall = run(make(clip), {**base, **extra})
                    samples[(name, n)][0].append(cpu)
                    samples[(name, n)][1].append(wall)
        per_frame = {}
        for name in commands:
            cpu = [(statistics.median(samples[(name, LONG)][i]) -
                    statistics.median(samples[(name, SHORT)][i])) / (LONG - SHORT) * 1e3 for i in (0, 1)]
            per_frame[name] = cpu
        reference = per_frame["ffmpeg hqdn3d=4:0:0:0"]
        print(f"\n{content}: {'command':26} {'CPU ms/frame':>12} {'x hqdn3d':>9} {'clock ms/frame':>15} {'x hqdn3d':>9}")
        for name, (cpu, wall) in per_frame.items():
            print(f"{'':{len(content) + 2}}{name:26} {cpu:12.2f} {reference[0] / cpu:9.2f} "
                  f"{wall:15.2f} {reference[1] / wall:9.2f}")
        if content.startswith("photo10-"):
            base_content = content.replace("photo10-", "photo-")
            for name, (cpu, wall) in per_frame.items():
                if (base_content, name) in eight_bit:
                    print(f"{'':{len(content) + 2}}{name:26} 10-bit / 8-bit stream: "
                          f"{cpu / eight_bit[(base_content, name)]:.2f}x CPU")
        else:
            for name, (cpu, _) in per_frame.items():
                eight_bit[(content, name)] = cpu
        level = best.split()[-1].strip("()") if best else ""
        pass_ms = passes.get((content, level))
        if pass_ms:
            total = per_frame["velnor -j 1 (best level)"][0]
            print(f"{'':{len(content) + 2}}velnor -j 1 (best level): the pass {pass_ms:.2f} ms, the rest "
                  f"(reading, writing, chroma) {total - pass_ms:.2f} ms, {100 * (total - pass_ms) / total:.0f}% "
                  f"of its CPU time")

if __name__ == "__main__":
    main()
