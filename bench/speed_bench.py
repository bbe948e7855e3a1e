#!/usr/bin/env python3
"""Times trimeld-convert against the naive converter and measures its memory.

Builds trimeld-convert (Release) and the naive converter from ../shared/bench,
generates a 1,000,000-facet binary STL and a 200,000-facet text STL with
make_stl.py, then runs the converters alternately, round after round, and prints for each
target the median over the rounds of the wall time as a multiple of the
naive converter's in the same round (paired, so that a slow spell of the
machine weighs on both sides of a ratio alike), next to its limit:

  1. 1M binary facets, default blocks              <= 0.10x naive
  2. 1M binary facets, 128-byte blocks (the window) <= 0.60x naive
  3. 200k text facets                               <= 0.22x naive
  4. peak memory (/usr/bin/time -v) for 10M binary facets and 2M text
     facets                                         <= 32 MiB each, and the
     same as for the 1M / 200k files (flat in the file size)
  5. peak memory for one 100 MB text line           <= 2.2 x line + 64 MiB
  6. one processor -> all of them                   >= 1.6x faster
and one thread (TRIMELD_THREADS=1) against the default for comparison. The
large files are made by repeating the facets of the small ones; they and
their RAW files are removed at the end.

One processor is each processor in turn (taskset -c N, up to four of
them): on a virtual machine one processor may run the same program a
third slower than another, and which one changes over time, so the figure
is the mean of the processors' figures, printed beside it.

The floor under target 2 is timed in the same alternation: bench/write_floor.c
writes as many bytes in 128-byte write() calls and does nothing else. So is
the ceiling over target 6: one single-thread conversion of the binary file
per processor, all at once, which share nothing but the machine; their
speed-up over one processor is the most any division of one file's work
could reach on it.

The SHA-256 of every RAW output is compared with bench/outputs.sha256, so a
speed change that alters a single byte shows; --record writes that file.

Usage: bench/speed_bench.py [--runs N] [--record] [--quick]
  --quick  skips the large files (targets 4 and 5)
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
    floor = os.path.join(BUILD, "write_floor")
    sh("cc", "-O2", "-o", floor, os.path.join(ROOT, "bench", "write_floor.c"))
    return os.path.join(BUILD, "trimeld-convert"), naive, floor


def inputs():
    os.makedirs(DATA, exist_ok=True)
    made = {}
    for kind, name, facets in (("--binary", "bin1m.stl", 1_000_000), ("--text", "txt200k.stl", 200_000)):
        path = os.path.join(DATA, name)
        if not os.path.exists(path):
            sh(sys.executable, os.path.join(SHARED, "make_stl.py"), kind, path, "--facets", str(facets))
        made[name] = (path, facets)
    return made


def repeat_binary(source, times, target):
    """The facets of a binary STL, times over, under a header counting them."""
    with open(source, "rb") as f:
        header = bytearray(f.read(84))
        body = f.read()
    count = int.from_bytes(header[80:84], "little") * times
    header[80:84] = count.to_bytes(4, "little")
    with open(target, "wb") as out:
        out.write(header)
        for _ in range(times):
            out.write(body)
    return count


def repeat_text(source, times, target):
    """The facets of a text STL, times over, in one solid."""
    with open(source, "rb") as f:
        text = f.read()
    first = text.index(b"\n") + 1
    last = text.rindex(b"endsolid")
    with open(target, "wb") as out:
        out.write(text[:first])
        for _ in range(times):
            out.write(text[first:last])
        out.write(text[last:])


def long_line(target, size):
    """A text STL with one facet and then one normal line of size bytes."""
    facet = (b"facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
             b"endloop\nendfacet\n")
    with open(target, "wb") as out:
        out.write(b"solid long\n" + facet + b"facet normal")
        piece = b" 1" * (1 << 19)
        written = len(b"facet normal")
        while written + len(piece) <= size:
            out.write(piece)
            written += len(piece)
        out.write(b" 1" * ((size - written) // 2) + b"\nendsolid\n")


def timed(cmd, env=None):
    """Wall time of a command, or of several started together (a list of them)."""
    cmds = cmd if isinstance(cmd[0], list) else [cmd]
    start = time.perf_counter()
    running = [subprocess.Popen(c, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
               for c in cmds]
    for process in running:
        if process.wait() != 0:
            raise subprocess.CalledProcessError(process.returncode, process.args)
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


def verdict(ok):
    return "ok" if ok else "OVER"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--record", action="store_true")
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()

    trimeld, naive, floor = build()
    data = inputs()
    binary, bin_facets = data["bin1m.stl"]
    text, text_facets = data["txt200k.stl"]
    out = lambda name: os.path.join(DATA, name)
    one_thread = dict(os.environ, TRIMELD_THREADS="1")
    all_threads = {k: v for k, v in os.environ.items() if k != "TRIMELD_THREADS"}
    processors = sorted(os.sched_getaffinity(0))[:4]
    # One run ahead of the timed ones: it warms the caches and tells the size
    # of the binary RAW file for the floor.
    sh(trimeld, "-q", binary, out("trimeld-bin.raw"))
    raw_size = os.path.getsize(out("trimeld-bin.raw"))

    cases = {
        "naive, binary": ([naive, binary, out("naive-bin.raw")], all_threads),
        "trimeld, binary": ([trimeld, "-q", binary, out("trimeld-bin.raw")], all_threads),
        "trimeld, binary, 128-byte blocks": ([trimeld, "-q", "--block-size", "128", binary,
                                              out("trimeld-bin128.raw")], all_threads),
        "trimeld, binary, one thread": ([trimeld, "-q", binary, out("trimeld-bin-1t.raw")], one_thread),
        "128-byte writes alone": ([floor, out("floor.raw"), str(raw_size)], all_threads),
        "naive, text": ([naive, text, out("naive-txt.raw")], all_threads),
        "trimeld, text": ([trimeld, "-q", text, out("trimeld-txt.raw")], all_threads),
        "trimeld, text, one thread": ([trimeld, "-q", text, out("trimeld-txt-1t.raw")], one_thread),
    }
    cases["binary, one per processor at once"] = (
        [["taskset", "-c", str(cpu), trimeld, "-q", binary, out(f"trimeld-bin-at-once-{cpu}.raw")]
         for cpu in processors], one_thread)
    for kind, source in (("binary", binary), ("text", text)):
        for cpu in processors:
            cases[f"trimeld, {kind}, processor {cpu}"] = (
                ["taskset", "-c", str(cpu), trimeld, "-q", source,
                 out(f"trimeld-{kind}-p{cpu}.raw")], all_threads)
    times = {name: [] for name in cases}
    for _ in range(args.runs):  # alternating, so that drift hits every case alike
        for name, (cmd, env) in cases.items():
            times[name].append(timed(cmd, env))
    median = {name: statistics.median(t) for name, t in times.items()}

    def paired(name, base):
        """The median of the per-round ratios name / base."""
        return statistics.median(t / b for t, b in zip(times[name], times[base]))
    load = os.getloadavg()

    print(f"{len(os.sched_getaffinity(0))} processors, Linux {os.uname().release}; medians of "
          f"{args.runs} alternating runs (wall time, seconds; min .. max), "
          f"load average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}:")
    for name, m in median.items():
        print(f"  {name:34s} {m:8.3f}   ({min(times[name]):.3f} .. {max(times[name]):.3f})")
    print()
    print(f"{'target':48s} {'figure':>10s} {'limit':>10s}")
    rows = [
        ("1. binary, default blocks / naive", paired("trimeld, binary", "naive, binary"), 0.10),
        ("2. binary, 128-byte blocks / naive",
         paired("trimeld, binary, 128-byte blocks", "naive, binary"), 0.60),
        ("3. text / naive", paired("trimeld, text", "naive, text"), 0.22),
    ]
    for label, figure, limit in rows:
        print(f"{label:48s} {figure:9.3f}x {limit:9.2f}x {verdict(figure <= limit)}")
        if label.startswith("2."):
            print(f"{'   floor: 128-byte writes alone / naive':48s} "
                  f"{paired('128-byte writes alone', 'naive, binary'):9.3f}x")

    if not args.quick:
        big_binary, big_text, line_file = out("bin10m.stl"), out("txt2m.stl"), out("line100m.stl")
        line_size = 100_000_000
        try:
            big_facets = repeat_binary(binary, 10, big_binary)
            repeat_text(text, 10, big_text)
            long_line(line_file, line_size)
            peaks = {
                "binary 1M": peak_kib([trimeld, "-q", binary, out("peak.raw")]) * 1024,
                "binary 10M": peak_kib([trimeld, "-q", big_binary, out("peak.raw")]) * 1024,
                "text 200k": peak_kib([trimeld, "-q", text, out("peak.raw")]) * 1024,
                "text 2M": peak_kib([trimeld, "-q", big_text, out("peak.raw")]) * 1024,
                "line": peak_kib([trimeld, "-q", line_file, out("peak.raw")]) * 1024,
            }
        finally:
            for path in (big_binary, big_text, line_file, out("peak.raw")):
                if os.path.exists(path):
                    os.remove(path)
        limit = 32 * MIB
        print(f"{'4. peak memory, binary 10M facets (MiB)':48s} {peaks['binary 10M'] / MIB:10.1f} "
              f"{limit / MIB:10.1f} {verdict(peaks['binary 10M'] <= limit)}"
              f"   (1M: {peaks['binary 1M'] / MIB:.1f}; {big_facets} facets)")
        print(f"{'   peak memory, text 2M facets (MiB)':48s} {peaks['text 2M'] / MIB:10.1f} "
              f"{limit / MIB:10.1f} {verdict(peaks['text 2M'] <= limit)}"
              f"   (200k: {peaks['text 200k'] / MIB:.1f})")
        line_limit = 2.2 * line_size + 64 * MIB
        print(f"{'5. peak memory, one 100 MB line (MiB)':48s} {peaks['line'] / MIB:10.1f} "
              f"{line_limit / MIB:10.1f} {verdict(peaks['line'] <= line_limit)}")

    for kind in ("binary", "text"):
        alone = [f"trimeld, {kind}, processor {cpu}" for cpu in processors]
        figures = [paired(name, f"trimeld, {kind}") for name in alone]
        speedup = statistics.mean(figures)
        label = f"6. {kind}: 1 processor / all processors"
        each = ", ".join(f"processor {cpu} {figure:.2f}x" for cpu, figure in zip(processors, figures))
        print(f"{label:48s} {speedup:9.2f}x {1.6:9.2f}x {verdict(speedup >= 1.6)} (faster)"
              f"   ({each})")
        if kind == "binary":
            # The processors convert one file each in the time of the slowest.
            rounds = zip(*(times[name] for name in alone),
                         times["binary, one per processor at once"])
            ceiling = statistics.median(statistics.mean(r[:-1]) * len(processors) / r[-1]
                                        for r in rounds)
            print(f"{'   ceiling: one file per processor at once':48s} {ceiling:9.2f}x")
    for kind in ("binary", "text"):
        ratio = paired(f"trimeld, {kind}, one thread", f"trimeld, {kind}")
        print(f"   {kind}: one thread {median[f'trimeld, {kind}, one thread']:.3f} s, "
              f"all threads {median[f'trimeld, {kind}']:.3f} s ({ratio:.2f}x)")
    print(f"   throughput, binary: {bin_facets / median['trimeld, binary'] / 1e6:.2f} M facets/s, "
          f"text: {os.path.getsize(text) / MIB / median['trimeld, text']:.1f} MiB/s")

    sums = {name: sha256(cmd[-1]) for name, (cmd, _) in cases.items()
            if "trimeld" in name and not isinstance(cmd[0], list)}
    for kind in ("binary", "text"):
        variants = {name: s for name, s in sums.items() if f"trimeld, {kind}" in name}
        if len(set(variants.values())) != 1:
            print(f"7. OUTPUT DIFFERS between the {kind} runs: {variants}")
            return 1
    recorded = {name: sums[name] for name in
                ("trimeld, binary", "trimeld, binary, 128-byte blocks", "trimeld, text")}
    lines = "".join(f"{recorded[name]}  {name}\n" for name in sorted(recorded))
    if args.record:
        with open(CHECKSUMS, "w") as f:
            f.write(lines)
        print("7. output checksums recorded in bench/outputs.sha256")
    elif os.path.exists(CHECKSUMS):
        same = open(CHECKSUMS).read() == lines
        print("7. every output byte-identical to the recorded checksums (all block sizes, "
              "thread counts and processors)" if same else
              "7. OUTPUT DIFFERS from bench/outputs.sha256")
        return 0 if same else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
