#!/usr/bin/env python3
"""Times the script kernels of bench/vm with ombrix-script and with Lua 5.4.

Each kernel is a folder NAME holding NAME.qv, NAME.lua and expected.txt (the one line both
must print). Every run's output is checked against that line: a kernel whose output is
wrong, or whose interpreter fails, is reported and marked failed instead of being timed.
Runs of the two interpreters alternate (and swap order every round) so that noise on the
machine falls on both alike; the table shows medians and the ratio ours / Lua, then the
geometric mean of the ratios. With --callgrind each kernel runs once under callgrind and
the table shows instruction counts, which repeat from run to run. With --memory each kernel
runs once and the table shows its peak resident memory, then the same above an empty script
of the same interpreter: the libraries a runner links (ours links the whole player's) are
resident before any script runs, and only what is above them is the kernel's own.

Tools/bench.sh builds the runner and calls this script; it can also be run by hand:
    python3 tools/bench_vm.py --ours build-bench/ombrix-script --runs 3 fib
Exit status: 0 when every chosen kernel ran correctly with both interpreters, else 1.
"""

import argparse
import math
import os
import re
import resource
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Interpreter:
    """One column of the table: a command and the script extension it runs."""

    def __init__(self, label, command, extension):
        self.label = label
        self.command = command  # argument list, or None when unavailable
        self.extension = extension
        self.problem = None  # why the column is empty, when it is

    def argv(self, kernel_dir, name):
        return self.command + [os.path.join(kernel_dir, name + self.extension)]


def find_command(text):
    """The argument list for a command text, or None when its program is not there."""
    if not text:
        return None
    words = shlex.split(text)
    program = shutil.which(words[0]) or (
        os.path.abspath(words[0]) if os.access(words[0], os.X_OK) and os.path.isfile(words[0]) else None)
    return [program] + words[1:] if program else None


def list_kernels(bench_dir):
    names = []
    for entry in sorted(os.listdir(bench_dir)):
        folder = os.path.join(bench_dir, entry)
        if os.path.isfile(os.path.join(folder, "expected.txt")):
            names.append(entry)
    return names


def expected_line(kernel_dir):
    with open(os.path.join(kernel_dir, "expected.txt"), encoding="utf-8") as f:
        return f.read().strip()


def describe_failure(result, expected):
    """A short text saying how a run went wrong, or None when it went right."""
    if result is None:
        return "timed out"
    out = result.stdout.decode(errors="replace").strip()
    if result.returncode == 0 and out == expected:
        return None
    lines = ["exit status %d" % result.returncode] if result.returncode != 0 else []
    if out != expected:
        lines.append("printed %r, expected %r" % (out[:200], expected))
    err = result.stderr.decode(errors="replace").strip()
    if err:
        first = [l.strip() for l in err.splitlines() if l.strip()][:5]
        lines.append("stderr: " + " | ".join(first)[:400])
    return "; ".join(lines)


def run_once(argv, timeout):
    """Runs a command; returns (completed process or None on timeout, wall s, cpu s)."""
    start_cpu = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    try:
        result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, float("nan"), float("nan")
    wall = time.perf_counter() - start
    end_cpu = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (end_cpu.ru_utime - start_cpu.ru_utime) + (end_cpu.ru_stime - start_cpu.ru_stime)
    return result, wall, cpu


def peak_resident(argv, timeout):
    """Runs a command once under GNU time; returns (completed process or None, peak resident MB)."""
    with tempfile.NamedTemporaryFile(mode="r") as report:
        result, _, _ = run_once(["/usr/bin/time", "-q", "-f", "%M", "-o", report.name] + argv, timeout)
        text = report.read().strip()
    return result, (int(text.splitlines()[-1]) / 1024.0 if text and text.splitlines()[-1].isdigit() else None)


def callgrind_count(argv, timeout, keep_dir, label, top, extra):
    """Runs once under callgrind; returns (completed process, instructions, top functions)."""
    out_file = os.path.join(keep_dir, "callgrind.%s.out" % label)
    cmd = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file] + extra + argv
    result, _, _ = run_once(cmd, timeout)
    if result is None or not os.path.exists(out_file):
        return result, None, []
    total = None
    with open(out_file, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = re.match(r"(?:summary|totals):\s*(\d+)", line)
            if m:
                total = int(m.group(1))
    functions = []
    if top > 0 and shutil.which("callgrind_annotate"):
        annotated = subprocess.run(
            ["callgrind_annotate", "--show=Ir", "--threshold=100", out_file],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        for line in annotated.stdout.decode(errors="replace").splitlines():
            m = re.match(r"\s*([\d,]+)\s+\(\s*([\d.]+)%\)\s+(\S.*)$", line)
            if m and "PROGRAM TOTALS" not in line:
                function = re.sub(r"\s+\[[^\]]*\]$", "", m.group(3))  # the binary
                function = re.sub(r"^(\?\?\?|[./][^:]*):", "", function)  # the source file
                functions.append("%6s%%  %s" % (m.group(2), function[:120]))
                if len(functions) >= top:
                    break
    return result, total, functions


def format_ratio(ours, lua):
    if ours is None or lua is None or lua <= 0:
        return None
    return ours / lua


def geometric_mean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else None


def main():
    parser = argparse.ArgumentParser(
        description="Check and time the script kernels with ombrix-script and Lua 5.4.")
    parser.add_argument("kernels", nargs="*", help="kernel names (default: all of them)")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per interpreter (default 5)")
    parser.add_argument("--memory", action="store_true",
                        help="one run each: peak resident memory, whole and above an empty script")
    parser.add_argument("--callgrind", action="store_true",
                        help="one run each under callgrind: instruction counts instead of times")
    parser.add_argument("--top", type=int, default=0, metavar="N",
                        help="with --callgrind: also list ombrix-script's N costliest functions")
    parser.add_argument("--callgrind-args", default="", metavar="ARGS",
                        help="with --callgrind: further valgrind options, written with "
                             "'=', for example --callgrind-args=--branch-sim=yes (the table "
                             "still shows instructions; callgrind_annotate on the --keep "
                             "files shows the rest)")
    parser.add_argument("--cpu", action="store_true",
                        help="compare user+system CPU time instead of wall time")
    parser.add_argument("--ours", default=os.path.join(ROOT, "build-bench", "ombrix-script"),
                        help="the runner command (empty: Lua alone)")
    parser.add_argument("--no-debug", action="store_true",
                        help="run ours without line instructions (the player always has them)")
    parser.add_argument("--lua", default="lua5.4", help="the Lua command")
    parser.add_argument("--dir", default=os.path.join(ROOT, "bench", "vm"), help="kernel folder")
    parser.add_argument("--timeout", type=float, default=300, help="seconds per run (default 300)")
    parser.add_argument("--keep", metavar="DIR",
                        help="with --callgrind: keep the callgrind files in DIR")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    available = list_kernels(args.dir)
    chosen = args.kernels or available
    unknown = [k for k in chosen if k not in available]
    if unknown:
        parser.error("no such kernel: %s (there are: %s)" % (", ".join(unknown), ", ".join(available)))

    ours = Interpreter("ombrix", find_command(args.ours), ".qv")
    if ours.command and args.no_debug:
        ours.command.append("--no-debug")
    lua = Interpreter("lua5.4", find_command(args.lua), ".lua")
    for interp, text in ((ours, args.ours), (lua, args.lua)):
        if interp.command is None:
            interp.problem = "not found" if text else "not given"
            print("%s: %s %s; its column stays empty." % (interp.label, text or "(none)", interp.problem))
    if args.callgrind and not shutil.which("valgrind"):
        print("valgrind is not installed: --callgrind needs it.")
        return 1

    if args.memory:
        return memory_table(args, chosen, ours, lua)

    unit = "Minstr" if args.callgrind else ("cpu s" if args.cpu else "s")
    what = "callgrind instruction counts, one run each" if args.callgrind else \
        "medians of %d interleaved runs (%s)" % (args.runs, "user+system CPU" if args.cpu else "wall")
    if args.no_debug:
        what += ", ours without line instructions"
    print("Script kernels, %s: %s" % (what, ", ".join(chosen)))
    keep_dir = None
    if args.callgrind:
        keep_dir = args.keep or tempfile.mkdtemp(prefix="bench-vm-")
        os.makedirs(keep_dir, exist_ok=True)

    rows = []
    failures = []
    tops = {}
    for name in chosen:
        kernel_dir = os.path.join(args.dir, name)
        expected = expected_line(kernel_dir)
        measured = {}
        for interp in (ours, lua):
            if interp.command is None:
                continue
            if args.callgrind:
                result, total, functions = callgrind_count(
                    interp.argv(kernel_dir, name), args.timeout * 100, keep_dir,
                    "%s.%s" % (name, interp.label), args.top if interp is ours else 0,
                    shlex.split(args.callgrind_args))
                problem = describe_failure(result, expected)
                if problem is None and total is None:
                    problem = "no instruction count in the callgrind output"
                if problem:
                    failures.append("%s with %s: %s" % (name, interp.label, problem))
                    measured[interp.label] = "FAILED"
                else:
                    measured[interp.label] = total / 1e6
                    if functions:
                        tops[name] = functions
            else:
                # One checked run first, so that a wrong kernel is never timed.
                result, _, _ = run_once(interp.argv(kernel_dir, name), args.timeout)
                problem = describe_failure(result, expected)
                if problem:
                    failures.append("%s with %s: %s" % (name, interp.label, problem))
                    measured[interp.label] = "FAILED"
                else:
                    measured[interp.label] = []
        if not args.callgrind:
            timed = [i for i in (ours, lua) if isinstance(measured.get(i.label), list)]
            for round_index in range(args.runs):
                order = timed if round_index % 2 == 0 else list(reversed(timed))
                for interp in order:
                    if not isinstance(measured[interp.label], list):
                        continue  # failed in an earlier round
                    result, wall, cpu = run_once(interp.argv(kernel_dir, name), args.timeout)
                    problem = describe_failure(result, expected)
                    if problem:
                        failures.append("%s with %s (timed run %d): %s" % (
                            name, interp.label, round_index + 1, problem))
                        measured[interp.label] = "FAILED"
                    else:
                        measured[interp.label].append(cpu if args.cpu else wall)
            for label, samples in list(measured.items()):
                if isinstance(samples, list):
                    measured[label] = statistics.median(samples)
        rows.append((name, measured.get(ours.label), measured.get(lua.label)))
        print_row(*rows[-1], unit, header=len(rows) == 1)
        sys.stdout.flush()

    ratios = [format_ratio(o, l) for _, o, l in rows
              if isinstance(o, float) and isinstance(l, float)]
    ratios = [r for r in ratios if r is not None]
    mean = geometric_mean(ratios)
    print("-" * 52)
    if mean is not None:
        worst = max(((format_ratio(o, l), n) for n, o, l in rows
                     if isinstance(o, float) and isinstance(l, float)), default=None)
        counted = "%d kernel%s" % (len(ratios), "" if len(ratios) == 1 else "s")
        if len(ratios) < len(rows):
            counted += " of %d" % len(rows)
        print("geometric mean of ours / lua5.4 over %s: %.2f  (worst: %s %.2f)" % (
            counted, mean, worst[1], worst[0]))
    else:
        print("geometric mean: none (no kernel ran correctly with both interpreters)")
    for name, functions in tops.items():
        print("\nombrix-script, %s: costliest functions (share of all instructions)" % name)
        for line in functions:
            print("  " + line)
    if args.callgrind and args.keep:
        print("callgrind files kept in %s" % keep_dir)
    elif args.callgrind:
        shutil.rmtree(keep_dir, ignore_errors=True)
    if failures:
        print("\nFailed:")
        for f in failures:
            print("  " + f)
    complete = not failures and ours.command is not None and lua.command is not None
    return 0 if complete else 1


def memory_table(args, chosen, ours, lua):
    """The --memory table; returns the exit status."""
    if not os.access("/usr/bin/time", os.X_OK):
        print("GNU time (/usr/bin/time) is not installed: --memory needs it.")
        return 1
    print("Script kernels, peak resident MB, one run each (above: less an empty script's): %s"
          % ", ".join(chosen))
    columns = [i for i in (ours, lua) if i.command is not None]
    empty = {}
    with tempfile.TemporaryDirectory() as scratch:
        for interp in columns:
            path = os.path.join(scratch, "empty" + interp.extension)
            open(path, "w").close()
            _, empty[interp.label] = peak_resident(interp.command + [path], args.timeout)
    print("%-12s %10s %10s %7s %10s %10s %7s" % (
        "kernel", "ombrix", "lua5.4", "ratio", "ombrix+", "lua5.4+", "ratio"))
    print("%-12s %10s %10s %7s" % ("(empty)", *["%.1f" % empty[i.label] if empty.get(i.label) else "-"
                                                 for i in (ours, lua)], ""))
    failures = []
    for name in chosen:
        kernel_dir = os.path.join(args.dir, name)
        expected = expected_line(kernel_dir)
        peak = {}
        for interp in columns:
            result, mb = peak_resident(interp.argv(kernel_dir, name), args.timeout)
            problem = describe_failure(result, expected)
            if problem or mb is None:
                failures.append("%s with %s: %s" % (name, interp.label, problem or "no figure from GNU time"))
            else:
                peak[interp.label] = mb
        o, l = peak.get(ours.label), peak.get(lua.label)
        above = [p - empty[k] if p is not None and empty.get(k) else None
                 for p, k in ((o, ours.label), (l, lua.label))]
        def cell(v):
            return "%.1f" % v if v is not None else "-"
        def ratio(a, b):
            return "%.2f" % (a / b) if a is not None and b else "-"
        print("%-12s %10s %10s %7s %10s %10s %7s" % (name, cell(o), cell(l), ratio(o, l),
                                                       cell(above[0]), cell(above[1]), ratio(*above)))
        sys.stdout.flush()
    for f in failures:
        print("  failed: " + f)
    return 0 if not failures and len(columns) == 2 else 1


def print_row(name, ours, lua, unit, header=False):
    if header:
        print("%-12s %12s %12s %8s" % ("kernel", "ombrix " + unit, "lua5.4 " + unit, "ratio"))
    def cell(v):
        if v is None:
            return "-"
        if isinstance(v, str):
            return v
        return "%.1f" % v if unit == "Minstr" else "%.3f" % v
    ratio = format_ratio(ours, lua) if isinstance(ours, float) and isinstance(lua, float) else None
    print("%-12s %12s %12s %8s" % (name, cell(ours), cell(lua), "%.2f" % ratio if ratio else "-"))


if __name__ == "__main__":
    sys.exit(main())
