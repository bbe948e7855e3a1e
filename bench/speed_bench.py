#!/usr/bin/env python3
"""Times trimeld-convert against the naive converter on generated meshes.

Builds trimeld-convert (Release) and the naive converter from ../shared/bench,
generates a 1,000,000-facet binary STL and a 200,000-facet text STL with
make_stl.py, then runs the converters alternately and prints, for each
target, the median wall time as a multiple of the naive converter's median
next to its limit, and the peak memory from /usr/bin/time -v.

The SHA-256 of every RAW output is compared with bench/outputs.sha256, so a
speed change that alters a single byte shows; --record writes that file.

Usage: bench/speed_bench.py [--runs N] [--record]
"""
import argparse
import hashlib
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHARED = os.path.join(os.path.dirname(ROOT), "shared", "bench")
BUILD = os.path.join(ROOT, "build-bench")
DATA = os.path.join(BUILD, "bench-data")
CHECKSUMS = os.path.join(ROOT, "bench", "outputs.sha256")
MIB = 1024 * 1024


def sh(*args, **kw):
    subprocess.run(args, check=True, **kw)


def build():
    sh("cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
       "-DTRIMELD_BUILD_GUI=OFF", stdout=subprocess.DEVNULL)
    sh("cmake", "--build", BUILD, "-j", str(os.cpu_count() or 2), "--target", "trimeld_cli",
       stdout=subprocess.DEVNULL)
    naive = os.path.join(BUILD, "naive_stl2raw")
    sh("cc", "-O2", "-o", naive, os.path.join(SHARED, "naive_stl2raw.c"), "-lm")
    return os.path.join(BUILD, "trimeld-convert"), naive


def inputs():
    os.makedirs(DATA, exist_ok=True)
    made = {}
    for kind, name, facets in (("--binary", "bin1m.stl", 1_000_000), ("--text", "txt200k.stl", 200_000)):
        path = os.path.join(DATA, name)
        if not os.path.exists(path):
            sh(sys.executable, os.path.join(SHARED, "make_stl.py"), kind, path, "--facets", str(facets))
        made[name] = (path, facets)
    return made


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_kib(cmd):
    out = subprocess.run(["/usr/bin/time", "-v"] + cmd, check=True, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True).stderr
    for line in out.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1])
    raise RuntimeError("no peak memory in /usr/bin/time output")


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--record", action="store_true")
    args = parser.parse_args()

    trimeld, naive = build()
    data = inputs()
    binary, bin_facets = data["bin1m.stl"]
    text, text_facets = data["txt200k.stl"]
    out = lambda name: os.path.join(DATA, name)

    cases = {
        "naive, binary": [naive, binary, out("naive-bin.raw")],
        "trimeld, binary": [trimeld, "-q", binary, out("trimeld-bin.raw")],
        "trimeld, binary, 128-byte blocks": [trimeld, "-q", "--block-size", "128", binary,
                                             out("trimeld-bin128.raw")],
        "naive, text": [naive, text, out("naive-txt.raw")],
        "trimeld, text": [trimeld, "-q", text, out("trimeld-txt.raw")],
    }
    times = {name: [] for name in cases}
    for _ in range(args.runs):  # alternating, so that drift hits every case alike
        for name, cmd in cases.items():
            times[name].append(timed(cmd))
    median = {name: statistics.median(t) for name, t in times.items()}

    print(f"medians of {args.runs} alternating runs (wall time, seconds):")
    for name, m in median.items():
        print(f"  {name:34s} {m:8.3f}")
    print()
    print(f"{'target':44s} {'figure':>10s} {'limit':>10s}")
    rows = [
        ("1. binary, default blocks / naive", median["trimeld, binary"] / median["naive, binary"], 0.15),
        ("2. binary, 128-byte blocks / naive",
         median["trimeld, binary, 128-byte blocks"] / median["naive, binary"], 0.85),
        ("3. text / naive", median["trimeld, text"] / median["naive, text"], 0.35),
    ]
    for label, figure, limit in rows:
        print(f"{label:44s} {figure:9.3f}x {limit:9.2f}x {'ok' if figure <= limit else 'OVER'}")

    bin_peak = peak_kib(cases["trimeld, binary"]) * 1024
    bin_limit = 40 * bin_facets + 16 * MIB
    text_peak = peak_kib(cases["trimeld, text"]) * 1024
    text_limit = 72 * text_facets + 64 * MIB
    print(f"{'4. peak memory, binary (MiB)':44s} {bin_peak / MIB:10.1f} {bin_limit / MIB:10.1f} "
          f"{'ok' if bin_peak <= bin_limit else 'OVER'}")
    print(f"{'   peak memory, text (MiB)':44s} {text_peak / MIB:10.1f} {text_limit / MIB:10.1f} "
          f"{'ok' if text_peak <= text_limit else 'OVER'}")
    print(f"   throughput, binary: {bin_facets / median['trimeld, binary'] / 1e6:.2f} M facets/s, "
          f"text: {os.path.getsize(text) / MIB / median['trimeld, text']:.1f} MiB/s")

    sums = {name: sha256(cmd[-1]) for name, cmd in cases.items() if "trimeld" in name}
    if sums["trimeld, binary"] != sums["trimeld, binary, 128-byte blocks"]:
        print("5. OUTPUT DIFFERS between block sizes")
        return 1
    lines = "".join(f"{sums[name]}  {name}\n" for name in sorted(sums))
    if args.record:
        with open(CHECKSUMS, "w") as f:
            f.write(lines)
        print("5. output checksums recorded in bench/outputs.sha256")
    elif os.path.exists(CHECKSUMS):
        same = open(CHECKSUMS).read() == lines
        print("5. output byte-identical to the recorded checksums" if same else
              "5. OUTPUT DIFFERS from bench/outputs.sha256")
        return 0 if same else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
