#!/usr/bin/python3
"""Times orvane-convert against what people would otherwise use, on one folder.

The contenders convert the same caption folder in interleaved rounds (the order
rotates from round to round); each row reports the median wall time, the
throughput in MB of caption files per second, the peak resident memory of the
process and its children, whether its transcripts have the same bytes as
orvane-convert's, and its time as a multiple of orvane-convert's. Then come the
in-memory filter throughput (filter_benchmark), the memory of one very large
caption file (in its folder and piped through `orvane-convert -`) and of one
very long line, and -j 1 against -j 2 on a tree of small caption files. The
targets are checked last.

Needs the bench build: cmake -S . -B build-bench -DORVANE_BUILD_BENCH=ON.
"""

import argparse
import datetime
import hashlib
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# name, program and arguments before the folder, what it is
CONTENDERS = [
    ("orvane-convert", ["{build}/orvane-convert"], "this project, default jobs (one per usable processor)"),
    ("orvane-convert -j 1", ["{build}/orvane-convert", "-j", "1"], "this project, one file at a time"),
    ("orvane-convert -j 2", ["{build}/orvane-convert", "-j", "2"], "this project, two files at once"),
    ("orvane-convert --clean", ["{build}/orvane-convert", "--clean"],
     "this project, clean transcripts (a different transcript: not compared)"),
    ("copy floor", ["{build}/bench/copy_floor"],
     "each .vtt copied to its .txt with read/write in 256 KiB blocks, nothing else"),
    ("std::regex + streams", ["{build}/bench/regex_reference"],
     "the rules written plainly with std::regex and std::ifstream/ofstream"),
    ("grep + sed", ["/bin/sh", HERE + "/grep_sed.sh"], "per-file pipeline, LC_ALL=C"),
    ("webvtt-py", [sys.executable, HERE + "/webvtt_py.py"], "python3-webvtt script"),
]

# Largest allowed ratio to orvane-convert for the copy floor, smallest for the others.
TARGETS = {"copy floor": 1 / 1.5, "std::regex + streams": 25, "grep + sed": 5, "webvtt-py": 100}
CLEAN = "orvane-convert --clean"
JOBS_SPEEDUP = 1.5  # smallest allowed speed-up of -j 2 over -j 1 on the folder
CLEAN_VS_DEFAULT = 1.5  # largest allowed time of the clean style over the default one
CLEAN_VS_WEBVTT = 40    # smallest allowed speed-up of the clean style over webvtt-py
CLEAN_FILTER_TARGET = 500e6  # bytes per second
FILTER_TARGET = 1e9  # bytes per second
BIG_FILE_RSS_TARGET = 64 << 20


def run_measured(argv):
    """Runs argv to completion; returns (wall seconds, CPU seconds, peak RSS bytes)."""
    # GNU time reports the largest resident set of the child and of every
    # descendant it waited for, so a shell pipeline counts its biggest stage.
    # (Measuring with wait4 from here would count this Python process too:
    # Linux keeps a forked child's memory high-water mark across exec.)
    with tempfile.NamedTemporaryFile("r") as report, tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv,
                                 stdout=subprocess.DEVNULL, stderr=errors)
        # User and system time of time's child and of everything that it waited for.
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            errors.seek(0)
            sys.exit("%s failed with status %d:\n%s" % (" ".join(argv), child.returncode,
                                                        errors.read().decode(errors="replace")))
        return wall, usage.ru_utime + usage.ru_stime, int(report.read().split()[-1]) * 1024


def transcripts(folder):
    """Maps each transcript name in `folder` to the SHA-256 of its bytes."""
    digests = {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".txt"):
            with open(os.path.join(folder, name), "rb") as text:
                digests[name] = hashlib.sha256(text.read()).hexdigest()
    return digests


def caption_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, name))
               for name in os.listdir(folder) if name.endswith(".vtt"))


def generate(out, files, size_mb, seed=2026):
    result = subprocess.run([sys.executable, HERE + "/make_captions.py", out, "--files", str(files),
                             "--size", str(size_mb), "--seed", str(seed)],
                            check=True, stdout=subprocess.PIPE, text=True)
    return result.stdout.strip()


def version(argv, pattern=r"(\d+(?:\.\d+)+)"):
    try:
        text = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout
    except OSError:
        return "?"
    match = re.search(pattern, text)
    return match.group(1) if match else "?"


def peer_versions():
    return {
        "g++": version(["g++", "--version"]),
        "GNU grep": version(["grep", "--version"]),
        "GNU sed": version(["sed", "--version"]),
        "python3": platform.python_version(),
        "python3-webvtt": version(["dpkg-query", "-W", "-f=${Version}", "python3-webvtt"],
                                  r"(\S+)"),
    }


def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next(line.split(":", 1)[1].strip() for line in info if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    distro = "?"
    try:
        with open("/etc/os-release") as release:
            distro = next(line.split("=", 1)[1].strip().strip('"')
                          for line in release if line.startswith("PRETTY_NAME="))
    except (OSError, StopIteration):
        pass
    return "%d cores (%s), %s" % (os.cpu_count(), cpu, distro)


def compare(build, folder, rounds):
    """Times every contender on `folder`; returns the rows of the table."""
    total = caption_bytes(folder)
    programs = [(name, [part.format(build=build) for part in argv] + [folder], what)
                for name, argv, what in CONTENDERS]
    # One untimed run fills the page cache and gives the reference transcripts.
    run_measured(programs[0][1])
    reference = transcripts(folder)
    samples = {name: [] for name, _, _ in programs}
    cpu = {name: [] for name, _, _ in programs}
    peaks = {name: 0 for name, _, _ in programs}
    same = {}
    for round_index in range(rounds):
        shift = round_index % len(programs)
        for name, argv, _ in programs[shift:] + programs[:shift]:
            wall, cpu_seconds, rss = run_measured(argv)
            samples[name].append(wall)
            cpu[name].append(cpu_seconds)
            peaks[name] = max(peaks[name], rss)
            if name == "copy floor":
                same[name] = "(a copy)"
            elif name == CLEAN:
                same[name] = "(clean)"
            elif name not in same or name.startswith("orvane-convert -j"):
                produced = transcripts(folder)
                differing = sum(1 for key, digest in reference.items() if produced.get(key) != digest)
                same[name] = "yes" if differing == 0 else "no (%d of %d)" % (differing, len(reference))
        print("  round %d of %d done" % (round_index + 1, rounds), file=sys.stderr)
    run_measured(programs[0][1])  # leave orvane-convert's transcripts behind
    base = statistics.median(samples[programs[0][0]])
    rows = []
    for name, _, what in programs:
        wall = statistics.median(samples[name])
        rows.append({"name": name, "what": what, "seconds": wall, "mb_per_s": total / 1e6 / wall,
                     "cpu": statistics.median(cpu[name]),
                     "rss": peaks[name], "same": same[name], "ratio": wall / base,
                     "samples": samples[name]})
    return rows, total


def filter_throughput(build, min_time):
    """Runs both filter benchmarks; returns {benchmark name: bytes per second}."""
    rates = {}
    for program in ("filter_benchmark", "clean_filter_benchmark"):
        result = subprocess.run([build + "/bench/" + program, "--benchmark_format=json",
                                 "--benchmark_min_time=%g" % min_time],
                                check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True)
        rates.update({bench["name"]: bench["bytes_per_second"]
                      for bench in json.loads(result.stdout)["benchmarks"]})
    return rates


def memory_checks(build, work, big_mb, line_mb):
    """Converts one big caption file, then one file of a single long line."""
    results = []
    big = generate(os.path.join(work, "big"), 1, big_mb, seed=7)
    wall, _, rss = run_measured([build + "/orvane-convert", big])
    results.append(("one %g MB caption file" % big_mb, caption_bytes(big), wall, rss))
    piped = "cat %s/*.vtt | %s/orvane-convert - >/dev/null" % (big, build)
    wall, _, rss = run_measured(["/bin/sh", "-c", piped])
    results.append(("the same through a pipe", caption_bytes(big), wall, rss))
    shutil.rmtree(os.path.join(work, "big"))
    long_line = os.path.join(work, "long", "line")
    os.makedirs(long_line, exist_ok=True)
    with open(os.path.join(long_line, "line.vtt"), "wb") as caption:
        caption.write(b"WEBVTT\n\n1\n00:00:00.000 --> 00:00:05.000\n")
        caption.write(b"<v>" + b"word " * (line_mb * 1_000_000 // 5) + b"</v>\n")
    wall, _, rss = run_measured([build + "/orvane-convert", long_line])
    results.append(("one %d MB line" % line_mb, caption_bytes(long_line), wall, rss))
    shutil.rmtree(os.path.join(work, "long"))
    return results


def tree_timing(build, work, files, rounds):
    """Times -r -j 1 and -r -j 2 on a tree of small caption files; returns (s, s, files)."""
    root = os.path.join(work, "tree")
    per_folder = 100
    for index in range(files):
        folder = os.path.join(root, "course__%d" % (index // (per_folder * 10)), "media",
                              "part%d" % (index // per_folder % 10))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "c%d.vtt" % index), "wb") as caption:
            caption.write(b"WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\n<v>Line %d</v>\n" % index)
    argv = {jobs: [build + "/orvane-convert", "-q", "-r", "-j", str(jobs), root] for jobs in (1, 2)}
    run_measured(argv[1])  # fills the caches
    samples = {1: [], 2: []}
    for _ in range(rounds):
        for jobs in (1, 2):
            samples[jobs].append(run_measured(argv[jobs])[0])
    shutil.rmtree(root)
    return statistics.median(samples[1]), statistics.median(samples[2]), files


def megabytes(count):
    return "%.1f MB" % (count / (1 << 20))


def print_table(rows, total, files):
    print("\n%d caption files, %.1f MB in all; median of each row's rounds (CPU s: user + system"
          " time of the process and its children)\n" % (files, total / 1e6))
    print("| Converter | Wall s | MB/s | CPU s | Peak RSS | Same bytes | Time vs orvane-convert |")
    print("|---|---:|---:|---:|---:|---|---:|")
    for row in rows:
        print("| %s | %.3f | %.0f | %.3f | %s | %s | %s |" % (
            row["name"], row["seconds"], row["mb_per_s"], row["cpu"], megabytes(row["rss"]), row["same"],
            "%.2f×" % row["ratio"] if row["ratio"] < 10 else "%.0f×" % row["ratio"]))
    print()
    for row in rows:
        print("- %s: %s" % (row["name"], row["what"]))


def check_targets(rows, throughput, memory, tree):
    by_name = {row["name"]: row for row in rows}
    lines = []
    one, two = by_name["orvane-convert -j 1"], by_name["orvane-convert -j 2"]
    speedup = one["seconds"] / two["seconds"]
    lines.append(("-j 2 at least %g× faster than -j 1" % JOBS_SPEEDUP, "%.2f×" % speedup,
                  speedup >= JOBS_SPEEDUP))
    floor = by_name["copy floor"]["seconds"]
    lines.append(("-j 2 at or below the copy floor", "%.2f× its time" % (two["seconds"] / floor),
                  two["seconds"] <= floor))
    webvtt = by_name["webvtt-py"]["seconds"] / two["seconds"]
    lines.append(("-j 2 at least 100× faster than webvtt-py", "%.1f×" % webvtt, webvtt >= 100))
    for one_s, two_s, files in tree:
        lines.append(("-j 2 faster than -j 1 on a tree of %d small files" % files,
                      "%.2f s vs %.2f s" % (two_s, one_s), two_s < one_s))
    for name, bound in TARGETS.items():
        ratio = by_name[name]["ratio"]
        if bound < 1:
            lines.append(("end to end within 1.5× of the copy floor",
                          "%.2f×" % (1 / ratio), ratio >= bound))
        else:
            lines.append(("at least %g× faster than %s" % (bound, name), "%.1f×" % ratio, ratio >= bound))
    if CLEAN in by_name:
        clean = by_name[CLEAN]["ratio"]
        lines.append(("clean style at most %g× the default style's time" % CLEAN_VS_DEFAULT,
                      "%.2f×" % clean, clean <= CLEAN_VS_DEFAULT))
        speedup = by_name["webvtt-py"]["ratio"] / clean
        lines.append(("clean style at least %g× faster than webvtt-py" % CLEAN_VS_WEBVTT,
                      "%.1f×" % speedup, speedup >= CLEAN_VS_WEBVTT))
    clean_rates = [rate for name, rate in throughput.items() if name.startswith("BM_Clean")]
    if clean_rates:
        lines.append(("in-memory clean filter at 500 MB/s or more (slowest case)",
                      "%.0f MB/s" % (min(clean_rates) / 1e6), min(clean_rates) >= CLEAN_FILTER_TARGET))
    blocks = [rate for name, rate in throughput.items()
              if "Blocks" in name and not name.startswith("BM_Clean")]
    if blocks:
        # The filter as a conversion drives it. FilterCaptions also builds a
        # fresh multi-megabyte string per call, which measures page faults.
        lines.append(("in-memory filter at 1 GB/s or more (fed in blocks, slower of LF and CR LF)",
                      "%.2f GB/s" % (min(blocks) / 1e9), min(blocks) >= FILTER_TARGET))
    for label, _, _, rss in memory[:2]:
        lines.append(("%s converted in under 64 MB" % label, megabytes(rss), rss < BIG_FILE_RSS_TARGET))
    print("\nTargets:")
    for label, figure, met in lines:
        print("  [%s] %s: %s" % ("met" if met else "MISSED", label, figure))
    return all(met for _, _, met in lines)


def write_chart(path, rows):
    """Writes a horizontal bar chart of throughput (log scale) as SVG."""
    import math
    width, left, bar, gap, top = 760, 190, 26, 12, 46
    height = top + len(rows) * (bar + gap) + 40
    best = max(row["mb_per_s"] for row in rows)
    low = 10 ** math.floor(math.log10(min(row["mb_per_s"] for row in rows)))
    high = 10 ** math.ceil(math.log10(best))
    span = width - left - 90

    def x(value):
        return left + span * (math.log10(value) - math.log10(low)) / (math.log10(high) - math.log10(low))

    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
             'font-family="sans-serif" font-size="13">' % (width, height),
             '<rect width="100%" height="100%" fill="white"/>',
             '<text x="%d" y="24" font-size="15" font-weight="bold">'
             'Caption folder to transcripts: MB/s (log scale, higher is better)</text>' % left]
    decade = low
    while decade <= high:
        parts.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>'
                     % (x(decade), top - 6, x(decade), height - 30))
        parts.append('<text x="%.1f" y="%d" text-anchor="middle" fill="#555">%g</text>'
                     % (x(decade), height - 12, decade))
        decade *= 10
    for index, row in enumerate(rows):
        y = top + index * (bar + gap)
        colour = ("#2b6cb0" if row["name"].startswith("orvane-convert")
                  else "#999" if row["name"] == "copy floor" else "#c05621")
        parts.append('<text x="%d" y="%d" text-anchor="end">%s</text>'
                     % (left - 10, y + bar * 0.7, row["name"].replace("&", "&amp;").replace("<", "&lt;")))
        parts.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"/>'
                     % (left, y, max(1.0, x(row["mb_per_s"]) - left), bar, colour))
        parts.append('<text x="%.1f" y="%d">%.0f MB/s</text>'
                     % (x(row["mb_per_s"]) + 6, y + bar * 0.7, row["mb_per_s"]))
    parts.append("</svg>\n")
    with open(path, "w") as chart:
        chart.write("\n".join(parts))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"),
                        help="bench build folder (build-bench)")
    parser.add_argument("--folder", help="caption folder to use instead of generating one")
    parser.add_argument("--work", help="where to generate data (a temporary folder)")
    parser.add_argument("--files", type=int, default=100, help="generated files (100)")
    parser.add_argument("--size", type=float, default=1.0, help="MB per generated file (1)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds per contender (5)")
    parser.add_argument("--big-mb", type=float, default=1000, help="size of the big file (1000 MB)")
    parser.add_argument("--line-mb", type=int, default=64, help="length of the long line (64 MB)")
    parser.add_argument("--tree-files", type=int, default=10000,
                        help="small files in the tree timed with -j 1 and -j 2 (10000; 0 skips)")
    parser.add_argument("--skip-memory", action="store_true", help="skip the big file and long line")
    parser.add_argument("--skip-filter", action="store_true", help="skip filter_benchmark")
    parser.add_argument("--filter-time", type=float, default=1.0,
                        help="seconds per filter_benchmark case (1)")
    parser.add_argument("--chart", help="also write the throughput chart to this SVG file")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    for program in ("orvane-convert", "bench/copy_floor", "bench/regex_reference",
                    "bench/filter_benchmark", "bench/clean_filter_benchmark"):
        if not os.access(os.path.join(build, program), os.X_OK):
            sys.exit("%s/%s is missing: cmake -S %s -B %s -DORVANE_BUILD_BENCH=ON && cmake --build %s"
                     % (build, program, ROOT, build, build))
    try:
        import webvtt  # noqa: F401  (the webvtt-py row runs with this interpreter)
    except ImportError:
        sys.exit("webvtt-py is missing: apt-get install python3-webvtt, and run this with /usr/bin/python3")

    with tempfile.TemporaryDirectory(prefix="orvane-bench-", dir=args.work) as work:
        folder = args.folder or generate(work, args.files, args.size)
        files = sum(1 for name in os.listdir(folder) if name.endswith(".vtt"))
        print("%s UTC, %s, load average %s" % (
            datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M"), machine(),
            " ".join("%.2f" % load for load in os.getloadavg())))
        print("Peers: " + ", ".join("%s %s" % item for item in peer_versions().items()))
        rows, total = compare(build, folder, args.rounds)
        print_table(rows, total, files)
        throughput = {} if args.skip_filter else filter_throughput(build, args.filter_time)
        if throughput:
            print("\nIn-memory filter, one core (filter_benchmark):")
            for name, rate in throughput.items():
                print("  %-32s %.2f GB/s" % (name, rate / 1e9))
        memory = [] if args.skip_memory else memory_checks(build, work, args.big_mb, args.line_mb)
        if memory:
            print("\norvane-convert on single large files:")
            for label, size, wall, rss in memory:
                print("  %-26s %.2f s, %.0f MB/s, peak RSS %s" % (label, wall, size / 1e6 / wall,
                                                                 megabytes(rss)))
        tree = [] if args.tree_files == 0 else [tree_timing(build, work, args.tree_files, args.rounds)]
        for one_s, two_s, count in tree:
            print("\nA tree of %d small caption files, -r: -j 1 %.3f s, -j 2 %.3f s (%.2f×)"
                  % (count, one_s, two_s, one_s / two_s))
        check_targets(rows, throughput, memory, tree)
        print("Load average after the run: %s" % " ".join("%.2f" % load for load in os.getloadavg()))
        if args.chart:
            write_chart(args.chart, rows)
            print("Chart written to %s" % args.chart)
        reference = next(row for row in rows if row["name"] == "std::regex + streams")
        if reference["same"] != "yes":
            sys.exit("error: the std::regex reference and orvane-convert wrote different transcripts")


if __name__ == "__main__":
    main()
