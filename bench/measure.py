#!/usr/bin/env python3
"""Runs the benchmark and prints its tables (bench/peers.sh installs the peers
and calls this; see bench/README.md)."""
import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import time

import programs

HERE = os.path.dirname(os.path.abspath(__file__))

# Peer assemblers: name, source file, command (source, output) and the file it writes.
PEERS = [
    ("GNU as AT&T", "t.gas-att.s", lambda s, o: ["as", "--32", s, "-o", o], "t.gas-att.o"),
    ("GNU as Intel", "t.gas-intel.s", lambda s, o: ["as", "--32", s, "-o", o], "t.gas-intel.o"),
    # fasm's own memory limit (16 MB) is too small for these programs.
    ("fasm", "t.fasm.asm", lambda s, o: ["fasm", "-m", "1048576", s, o], "t.fasm.bin"),
    # NASM's multi-pass jump sizing (-Ox, its default) grows with the square of
    # the program here (31 s at 100 k lines), so it runs with one pass.
    ("NASM -O1", "t.nasm.asm", lambda s, o: ["nasm", "-O1", "-f", "bin", s, "-o", o], "t.nasm.bin"),
]


class Failed(Exception):
    pass


def run_once(cmd, cwd, output):
    """Runs cmd in cwd; returns (wall seconds, peak RSS in KB). The output file
    must be written."""
    out_path = os.path.join(cwd, output)
    if os.path.exists(out_path):
        os.remove(out_path)
    stats = os.path.join(cwd, ".time")
    log = os.path.join(cwd, ".log")
    with open(log, "w") as f:
        start = time.perf_counter()
        rc = subprocess.call(["/usr/bin/time", "-f", "%e %M", "-o", stats] + cmd,
                             cwd=cwd, stdout=f, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        wall = time.perf_counter() - start
    if rc != 0 or not os.path.isfile(out_path) or os.path.getsize(out_path) == 0:
        with open(log, errors="replace") as f:
            tail = f.read()[-2000:]
        raise Failed(f"{' '.join(cmd)} in {cwd}: exit code {rc}, "
                     f"{'no ' + output if not os.path.isfile(out_path) else output + ' written'}\n{tail}")
    with open(stats) as f:
        rss_kb = int(f.read().split()[-1])
    return wall, rss_kb


def best_of(runs, cmd, cwd, output):
    """Best wall time and lowest peak RSS of several runs."""
    results = [run_once(cmd, cwd, output) for _ in range(runs)]
    return min(r[0] for r in results), min(r[1] for r in results)


def tavik_cmd(binary, source, tag):
    """Builds source into <stem>.<tag>.exe beside it."""
    stem = os.path.splitext(source)[0]
    return [binary, source, "-nopause", "-out", f"{stem}.{tag}"], f"{stem}.{tag}.exe"


def tavik_binaries(args):
    out = [("tavik", args.tavik, "new")]
    if args.base:
        out.append(("tavik base", args.base, "base"))
    return out


def same_images(folder, output_new, output_base):
    return filecmp.cmp(os.path.join(folder, output_new), os.path.join(folder, output_base), shallow=False)


def mb(kb):
    return f"{kb / 1024:.1f} MB"


def print_table(head, rows):
    widths = [max(len(str(r[i])) for r in [head] + rows) for i in range(len(head))]
    line = lambda r: "| " + " | ".join(str(c).ljust(w) if i == 0 else str(c).rjust(w)
                                       for i, (c, w) in enumerate(zip(r, widths))) + " |"
    print(line(head))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))
    sys.stdout.flush()


def have(tool):
    return shutil.which(tool) is not None


def peers_table(args, work, mismatches):
    rows = []
    for size in args.sizes:
        folder = os.path.join(work, f"peers-{size}")
        os.makedirs(folder, exist_ok=True)
        files = dict((os.path.basename(p), n) for p, n in programs.peers(size, folder))
        lines = files["t.tav"]
        measured = []
        for label, binary, tag in tavik_binaries(args):
            cmd, output = tavik_cmd(binary, "t.tav", tag)
            measured.append((label, *best_of(args.runs, cmd, folder, output)))
            log(f"{size} lines: {label} done")
        if args.base and not same_images(folder, "t.new.exe", "t.base.exe"):
            mismatches.append(f"t.tav, {lines} lines")
        if not args.no_peers:
            for label, source, make, output in PEERS:
                tool = make("", "")[0]
                if not have(tool):
                    log(f"{tool} is missing: {label} left out")
                    continue
                try:
                    measured.append((label, *best_of(args.runs, make(source, output), folder, output)))
                except Failed as e:
                    log(f"{label} failed: {e}")
                    continue
                log(f"{size} lines: {label} done")
        tavik_wall, tavik_rss = measured[0][1], measured[0][2]
        for label, wall, rss in measured:
            rows.append([label, f"{lines:,}", f"{wall:.3f} s", f"{lines / wall / 1e6:.2f} M",
                         mb(rss), f"{wall / tavik_wall:.2f}", f"{tavik_rss / rss:.2f}"])
        if not args.keep:
            shutil.rmtree(folder)
    print()
    print(f"Same program, best of {args.runs} runs (wall time and peak RSS).")
    print("speed ratio: its wall time over Tavik's (above 1: Tavik is faster);")
    print("memory ratio: Tavik's peak RSS over its (below 1: Tavik takes less).")
    print()
    print_table(["assembler", "lines", "wall", "lines/s", "peak RSS", "speed ratio", "memory ratio"], rows)


def shapes_table(args, work, mismatches):
    rows = []
    folder = os.path.join(work, "shapes")
    for name in programs.SHAPES:
        sized = []
        for n in (args.shape_size, 2 * args.shape_size):
            sub = os.path.join(folder, str(n))
            os.makedirs(sub, exist_ok=True)
            (path, lines), = programs.shape(name, n, sub)
            sized.append((sub, os.path.basename(path), lines))
        for label, binary, tag in tavik_binaries(args):
            figures = []
            for sub, source, lines in sized:
                cmd, output = tavik_cmd(binary, source, tag)
                figures.append((lines, *best_of(args.runs, cmd, sub, output)))
            (l1, w1, r1), (l2, w2, r2) = figures
            rows.append([name, label, f"{l1:,}", f"{w1:.3f} s", mb(r1), f"{l2:,}", f"{w2:.3f} s", mb(r2),
                         f"{w2 / w1:.2f}", f"{r2 / r1:.2f}", f"{r2 * 1024 / l2:,.0f} B",
                         f"{(r2 - r1) * 1024 / (l2 - l1):,.0f} B"])
            log(f"shape {name}: {label} done")
        if args.base:
            for sub, source, lines in sized:
                stem = os.path.splitext(source)[0]
                if not same_images(sub, f"{stem}.new.exe", f"{stem}.base.exe"):
                    mismatches.append(f"{source}, {lines} lines")
    if not args.keep:
        shutil.rmtree(folder, ignore_errors=True)
    print()
    print(f"Tavik on each shape at two sizes, best of {args.runs} runs. Growth: the figure at")
    print("the larger size over the one at the smaller (2.00 is linear for twice the lines);")
    print("per line: peak RSS at the larger size over its lines; per added line: the")
    print("growth of peak RSS from the smaller size over the lines added.")
    print()
    print_table(["shape", "binary", "lines", "wall", "peak RSS", "lines", "wall", "peak RSS",
                 "time growth", "memory growth", "RSS per line", "per added line"], rows)


def check(args, work):
    """Builds every program once with both binaries and compares the images."""
    rows, bad = [], 0
    jobs = []
    for size in args.sizes:
        folder = os.path.join(work, f"check-peers-{size}")
        os.makedirs(folder, exist_ok=True)
        (path, lines), = programs.peers(size, folder, ["t.tav"])
        jobs.append((folder, path, lines))
    for name in programs.SHAPES:
        for n in (args.shape_size, 2 * args.shape_size):
            folder = os.path.join(work, f"check-shape-{n}")
            os.makedirs(folder, exist_ok=True)
            (path, lines), = programs.shape(name, n, folder)
            jobs.append((folder, path, lines))
    for folder, path, lines in jobs:
        source = os.path.basename(path)
        outputs = []
        for label, binary, tag in tavik_binaries(args):
            cmd, output = tavik_cmd(binary, source, tag)
            run_once(cmd, folder, output)
            outputs.append(output)
        same = same_images(folder, *outputs)
        bad += not same
        size = os.path.getsize(os.path.join(folder, outputs[0]))
        rows.append([source, f"{lines:,}", f"{size:,}", "yes" if same else "NO"])
        if not args.keep and folder.startswith(os.path.join(work, "check-peers")):
            shutil.rmtree(folder)
    print()
    print(f"Images of {args.tavik} and {args.base}:")
    print()
    print_table(["program", "lines", "image bytes", "identical"], rows)
    return bad


def log(text):
    print("  " + text, file=sys.stderr, flush=True)


def main():
    p = argparse.ArgumentParser(prog="bench/peers.sh", description="Tavik against its peers, and Tavik on the shapes of program.")
    p.add_argument("--tavik", default=os.path.join(HERE, "..", "build", "bin", "tavik"),
                   help="the Tavik binary measured (default: build/bin/tavik)")
    p.add_argument("--base", help="a second Tavik binary to measure beside it (before/after)")
    p.add_argument("--check", action="store_true",
                   help="only build every program with --tavik and --base and compare the images")
    p.add_argument("--sizes", default="100000,1000000,3000000",
                   help="lines of the program given to every assembler (comma-separated)")
    p.add_argument("--shape-size", type=int, default=100000,
                   help="lines N of each shape program; it is also measured at 2N")
    p.add_argument("--runs", type=int, default=3, help="runs of each measurement; the best is shown")
    p.add_argument("--no-peers", action="store_true", help="measure Tavik only in the first table")
    p.add_argument("--no-shapes", action="store_true", help="leave out the table of shapes")
    p.add_argument("--work", help="folder for the programs (default: a new temporary folder)")
    p.add_argument("--keep", action="store_true", help="keep the programs and images")
    args = p.parse_args()
    args.sizes = [int(s) for s in args.sizes.split(",") if s]
    args.tavik = os.path.abspath(args.tavik)
    if args.base:
        args.base = os.path.abspath(args.base)
    for b in [args.tavik] + ([args.base] if args.base else []):
        if not os.access(b, os.X_OK):
            sys.exit(f"no Tavik binary at {b}")
    if args.check and not args.base:
        sys.exit("--check needs --base")
    if args.work:
        work = os.path.abspath(args.work)
        os.makedirs(work, exist_ok=True)
    else:
        work = tempfile.mkdtemp(prefix="tavik-bench-")
    try:
        if args.check:
            return 1 if check(args, work) else 0
        print(f"tavik: {args.tavik}" + (f"\nbase:  {args.base}" if args.base else ""))
        print("load average at the start: %.2f %.2f %.2f" % os.getloadavg())
        mismatches = []
        if args.sizes:
            peers_table(args, work, mismatches)
        if not args.no_shapes:
            shapes_table(args, work, mismatches)
        if args.base:
            print()
            print("Images of the two binaries: " +
                  ("identical on every program" if not mismatches else "DIFFER on " + "; ".join(mismatches)))
        print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
        return 1 if mismatches else 0
    except Failed as e:
        print(f"failed: {e}", file=sys.stderr)
        return 2
    finally:
        if not args.keep and not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
