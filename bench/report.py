#!/usr/bin/env python3
"""report.py: turns the result lines of the benchmark drivers into the suite's report.

  bench/report.py RESULTS --out DIR --mode quick|full --counts "4 8 16" --began EPOCH

RESULTS holds the lines that bench/run.sh gathered: "R key value" is a figure (the last one of
a key counts), "S key value" is one run's sample of a figure whose value is then the median of
its samples, and "F text" names a part of the suite that failed. The report prints the table
(and keeps it in DIR/table.txt), writes DIR/results.json and draws DIR/scaling.png with gnuplot.
Only the standard library and gnuplot are used. Exit status 1 when a part failed, memos were
lost or damaged, or a goal has no figure; no speed decides it.
"""

import argparse
import json
import math
import os
import platform
import re
import shutil
import subprocess
import sys
import time

# Each goal: its name, the figure it reads, "ge" (at least) or "le" (at most), the threshold.
# The first one's name and figure are filled in with the largest memo size measured.
GOALS = [
    ("memo throughput ratio at {mib} MiB (plain time / plug-in time)",
     "memo.throughput.{mib}MiB.ratio", "ge", 0.9),
    ("memo latency p50, plug-in / plain", "memo.latency.p50_ratio", "le", 1.5),
    ("presence stored per s at saturation, plug-in / plain", "presence.saturation.ratio", "ge",
     0.5),
    ("host read per-entry cost, largest / smallest list, node list off",
     "host_read.off.growth", "le", 1.5),
    ("host read per-entry cost, largest / smallest list, node list on",
     "host_read.on.growth", "le", 1.5),
]

# The host read's goal at every list size that the Linux build measured, for both builds.
HOST_READ_GOAL = ("host read per-entry cost at {n} peers, node list on / off, {build}",
                  "{prefix}.on_off.{n}", "le", 3.0)

# The concurrent memo runs of bench/run.sh (memo_bench --threads 8,32); the receiver counts
# each of them as phase 400 + threads.
THREADS = (8, 32)


def number(text):
    """A driver's value as an int or float; None for a value that is not finite."""
    value = int(text) if re.fullmatch(r"[+-]?\d+", text) else float(text)
    return value if math.isfinite(value) else None


def median(values):
    """The middle value; for an even count the mean of the two middle ones (9 digits)."""
    values = sorted(values)
    half = len(values) // 2
    if len(values) % 2:
        return values[half]
    return number(f"{(values[half - 1] + values[half]) / 2:.9g}")


def ratio(a, b):
    """a / b to 6 digits; None when either is missing or b is 0."""
    if a is None or b is None or b == 0:
        return None
    return number(f"{a / b:.6g}")


def read_results(path):
    """The figures (in order of first appearance), samples and failures of a results file."""
    figures, samples, failures = {}, {}, []
    with open(path) as lines:
        for line in lines:
            kind, _, rest = line.rstrip("\n").partition(" ")
            if kind == "F":
                failures.append(rest)
            elif kind in ("R", "S"):
                try:
                    key, value = rest.split()
                    value = number(value)
                except ValueError:
                    failures.append(f"unreadable result line: {line.strip()}")
                    continue
                if kind == "R":
                    figures[key] = value
                else:
                    samples.setdefault(key, []).append(value)
    return figures, samples, failures


def numbered(figures, pattern):
    """The numbers N, in order, of the figure keys that match pattern with N as its group."""
    found = (re.fullmatch(pattern, key) for key in figures)
    return sorted(int(m.group(1)) for m in found if m)


def derive(figures, samples):
    """Adds the medians of the samples and the figures computed from others."""
    for key in sorted(samples):
        values = [v for v in samples[key] if v is not None]
        if values:
            figures[key] = median(values)
    derived = {
        "presence.ratio": ratio(figures.get("presence.plugin.per_s"),
                                figures.get("presence.plain.per_s")),
        "presence.saturation.ratio": ratio(figures.get("presence.saturation.plugin.per_s"),
                                           figures.get("presence.saturation.plain.per_s")),
        "discovery.growth_16_vs_4": ratio(figures.get("discovery.16.converge_ms"),
                                          figures.get("discovery.4.converge_ms")),
        "discovery.growth_64_vs_16": ratio(figures.get("discovery.64.converge_ms"),
                                           figures.get("discovery.16.converge_ms")),
    }
    for prefix in ("host_read", "host_read_win"):
        for n in numbered(figures, rf"{prefix}\.on\.(\d+)\.ns_per_entry"):
            derived[f"{prefix}.on_off.{n}"] = ratio(figures.get(f"{prefix}.on.{n}.ns_per_entry"),
                                                    figures.get(f"{prefix}.off.{n}.ns_per_entry"))
    for phase in numbered(figures, r"sent\.phase(\d+)"):
        derived[f"memo.delivered.phase{phase}"] = figures.get(f"recv.phase{phase}.memos")
    figures.update((key, value) for key, value in derived.items() if value is not None)


def judge(figures):
    """Every goal with its figure and whether it was met ("missing" without a figure)."""
    sizes = numbered(figures, r"memo\.throughput\.(\d+)MiB\.ratio")
    mib = sizes[-1] if sizes else None
    goals = []
    name, key, compare, threshold = HOST_READ_GOAL
    # The Windows build's goals stand where its driver ran (run.sh leaves it out without a
    # cross compiler or Wine, and notes a failure when it ran and broke).
    builds = [("host_read", "Linux")]
    if numbered(figures, r"host_read_win\.off\.(\d+)\.ns_per_entry"):
        builds.append(("host_read_win", "Windows/Wine"))
    host_read = [(name.format(n=n, build=build), key.format(prefix=prefix, n=n), compare, threshold)
                 for prefix, build in builds
                 for n in numbered(figures, r"host_read\.on_off\.(\d+)")]
    for name, key, compare, threshold in GOALS + host_read:
        figure = figures.get(key.format(mib=mib))
        status = "missing"
        if figure is not None:
            met = figure >= threshold if compare == "ge" else figure <= threshold
            status = "met" if met else "missed"
        goals.append({"goal": name.format(mib=mib if mib is not None else "?"),
                      "figure": figure, "compare": compare, "threshold": threshold,
                      "status": status})
    return goals


def damaged_memos(figures):
    return sum(v for k, v in figures.items() if re.fullmatch(r"recv\..*\.bad", k) and v)


def check(figures, goals):
    """What the run could not measure, or measured with lost or damaged memos."""
    problems = []
    if figures.get("memo.sender_failures") != 0:
        problems.append(f"memo exchanges failed: {text(figures.get('memo.sender_failures'))}")
    if figures.get("memo.fanout.failures", 0) != 0:
        problems.append(f"memo fan-out exchanges failed: {text(figures['memo.fanout.failures'])}")
    if damaged_memos(figures):
        problems.append(f"{damaged_memos(figures)} memos arrived damaged")
    for phase in numbered(figures, r"sent\.phase(\d+)"):
        sent, received = figures[f"sent.phase{phase}"], figures.get(f"recv.phase{phase}.memos")
        if sent != received:
            problems.append(f"memo phase {phase}: sent {text(sent)}, received {text(received)}")
    problems += [f"no figure for: {g['goal']}" for g in goals if g["figure"] is None]
    return problems


def text(value):
    return "-" if value is None else str(value)


def machine():
    with open("/proc/cpuinfo") as info:
        model = next((l.split(": ", 1)[1].strip() for l in info if l.startswith("model name")), "")
    with open("/proc/loadavg") as load:
        loads = " ".join(load.read().split()[:3])
    cores = len(os.sched_getaffinity(0))
    return f"{cores} cores, {model}, Linux {platform.release()}, load {loads}"


def table(figures, goals, failures, mode, counts, out, seconds, host):
    def f(key, digits=1):
        value = figures.get(key)
        return "-" if value is None else f"{value:.{digits}f}"

    t = ["", f"Peerbeacon benchmarks ({mode}) on {host}",
         "Medians over repeated runs; ratios against a baseline measured in this run on the "
         "same path.", ""]
    t.append("1. Memo throughput (host 1 -> host 2 over the virtual LAN)")
    line = "   %-8s %12s %12s %12s %12s %8s"
    t.append(line % ("size", "plug-in s", "plain s", "plug-in MB/s", "plain MB/s", "ratio"))
    for mib in numbered(figures, r"memo\.throughput\.(\d+)MiB\.ratio"):
        k = f"memo.throughput.{mib}MiB"
        t.append(line % (f"{mib} MiB", f(k + ".plugin_s", 4), f(k + ".plain_s", 4),
                         f(k + ".plugin_MBps", 0), f(k + ".plain_MBps", 0), f(k + ".ratio", 2)))

    t += ["", f"2. Memo latency, {f('memo.latency.count', 0)} sequential 1 KiB memos each way (us)"]
    line = "   %-8s %10s %10s"
    t.append(line % ("", "p50", "p99"))
    for side in ("plugin", "plain"):
        t.append(line % ("plug-in" if side == "plugin" else side,
                         f(f"memo.latency.{side}_p50_us"), f(f"memo.latency.{side}_p99_us")))
    t.append(line % ("ratio", f("memo.latency.p50_ratio", 2), f("memo.latency.p99_ratio", 2)))
    if "memo.breakdown.thread_start_p50_us" in figures:
        b = "memo.breakdown."
        t.append("   where it goes, p50 (plain in brackets): a plain client to the plug-in's receiver")
        t.append(f"     connect to greeting {f(b + 'recv_greeting_p50_us')} "
                 f"({f(b + 'plain_greeting_p50_us')}), greeting to result "
                 f"{f(b + 'recv_result_p50_us')} ({f(b + 'plain_result_p50_us')}); the plug-in's")
        t.append(f"     sender to a plain server {f(b + 'send_to_plain_p50_us')} "
                 f"({f(b + 'plain_total_p50_us')}); the plug-in pair in the same loop "
                 f"{f(b + 'plugin_total_p50_us')}; the start of a thread alone "
                 f"{f(b + 'thread_start_p50_us')}")

    t += ["", "3. Concurrent 1 KiB memos"]
    line = "   %-8s %12s %12s %14s"
    t.append(line % ("threads", "memos/s", "exchanges", "counted at recv"))
    for n in THREADS:
        k = f"memo.concurrent.{n}threads"
        t.append(line % (n, f(k + ".memos_per_s", 0), f(k + ".exchanges", 0),
                         f(f"memo.delivered.phase{400 + n}", 0)))
    t.append(f"   sender failures (all memo phases): {f('memo.sender_failures', 0)}; "
             f"damaged memos at the receiver: {damaged_memos(figures)}")

    t += ["", f"   A memo to each of {f('memo.fanout.peers', 0)} peers (1 KiB, one round, ms)"]
    line = "   %-10s %10s %10s %8s"
    t.append(line % ("senders", "plug-in", "plain", "ratio"))
    for n in numbered(figures, r"memo\.fanout\.(\d+)threads\.ratio"):
        k = f"memo.fanout.{n}threads"
        t.append(line % ("1 (in turn)" if n == 1 else f"{n} threads", f(k + ".plugin_ms"),
                         f(k + ".plain_ms"), f(k + ".ratio", 2)))

    t += ["", f"4. Presence: {f('presence.flood.sent', 0)} update datagrams from as many sources "
          f"at {f('presence.flood.offered_per_s', 0)}/s offered"]
    line = "   %-8s %10s %12s"
    t.append(line % ("", "stored", "stored/s"))
    for side in ("plugin", "plain"):
        t.append(line % ("plug-in" if side == "plugin" else side,
                         f(f"presence.{side}.stored", 0), f(f"presence.{side}.per_s", 0)))
    t.append(line % ("ratio", "", f("presence.ratio", 2)))
    s = "presence.saturation"
    t.append(f"   At saturation: {f(s + '.flood.offered_per_s', 0)}/s offered from new sources "
             f"(median of runs), stored/s while the flood lasts:")
    for side in ("plugin", "plain"):
        t.append(line % ("plug-in" if side == "plugin" else side, "", f(f"{s}.{side}.per_s", 0)))
    t.append(line % ("ratio", "", f(s + ".ratio", 2)))

    t += ["", "5. Host read through the exports (lock, every entry and group record size-first, "
          "unlock)"]
    line = "   %-9s %8s %8s %14s %12s"
    t.append(line % ("node list", "peers", "groups", "full read us", "ns/entry"))
    for prefix in ("host_read", "host_read_win"):
        if prefix == "host_read_win" and not numbered(figures, r"host_read_win\.off\.(\d+)\.ns_per_entry"):
            continue
        t.append("   " + ("Linux build" if prefix == "host_read" else "Windows build under Wine"))
        for node_list in ("off", "on"):
            for n in numbered(figures, rf"{prefix}\.{node_list}\.(\d+)\.ns_per_entry"):
                k = f"{prefix}.{node_list}.{n}"
                t.append(line % (node_list, n, f(k + ".groups", 0), f(k + ".full_read_us"),
                                 f(k + ".ns_per_entry")))
            t.append("   %-9s growth of ns/entry, largest / smallest list: %s"
                     % (node_list, f(f"{prefix}.{node_list}.growth", 2)))
        t.append("   on / off per entry: " + ", ".join(
            f"{n} peers {f(f'{prefix}.on_off.{n}', 2)}"
            for n in numbered(figures, rf"{prefix}\.on_off\.(\d+)")))

    t += ["", "6. Discovery convergence (last start -> every instance lists every other)"]
    t.append("   %-10s %12s" % ("instances", "ms"))
    t += ["   %-10s %12s   (runs not converged: %s)"
          % (n, f(f"discovery.{n}.converge_ms", 1), f(f"discovery.{n}.runs_not_converged", 0))
          for n in counts]
    t.append(f"   growth 16 vs 4: {f('discovery.growth_16_vs_4', 2)}; "
             f"64 vs 16: {f('discovery.growth_64_vs_16', 2)}")

    r = "resources."
    t += ["", "7. Resources",
          f"   idle, not announced:   {f(r + 'idle.threads', 0)} threads, "
          f"{f(r + 'idle.rss_kb', 0)} kB RSS",
          f"   idle, announced:       {f(r + 'idle_announced.threads', 0)} threads, "
          f"{f(r + 'idle_announced.rss_kb', 0)} kB RSS",
          f"   holding {f(r + 'loaded.peers', 0)} peers:   {f(r + 'loaded.threads', 0)} threads, "
          f"{f(r + 'loaded.rss_kb', 0)} kB RSS",
          f"   idle CPU: {f(r + 'idle_cpu.cpu_ms', 1)} ms over "
          f"{f(r + 'idle_cpu.seconds_observed', 0)} s ({f(r + 'idle_cpu.cpu_percent', 3)} %)"]

    t += ["", "Goals"]
    for g in goals:
        sign = ">=" if g["compare"] == "ge" else "<="
        t.append("   %-72s %8s  (%s %s)  %s"
                 % (g["goal"], text(g["figure"]), sign, g["threshold"], g["status"]))
    t += ["", f"Micro benches (in process, no network): {out}/micro.txt"]
    if failures:
        t += ["", f"Failures ({len(failures)}):"] + [f"   {x}" for x in failures]
    t += ["", f"suite time: {seconds} s"]
    return "\n".join(t) + "\n"


def to_json(value, depth=0, inline=False):
    """JSON with one line per figure, sample list and goal: dicts open on lines of their own
    unless they sit in a list, lists stay on one line unless they hold dicts."""
    pad, end = "  " * (depth + 1), "  " * depth
    if isinstance(value, dict) and value and not inline:
        items = (f"{pad}{json.dumps(k)}: {to_json(v, depth + 1)}" for k, v in value.items())
        return "{\n" + ",\n".join(items) + f"\n{end}}}"
    if isinstance(value, list) and any(isinstance(v, dict) for v in value):
        items = (pad + to_json(v, depth + 1, inline=True) for v in value)
        return "[\n" + ",\n".join(items) + f"\n{end}]"
    return json.dumps(value, separators=(", ", ": "), allow_nan=False)


def commit(top):
    try:
        return subprocess.run(["git", "-C", top, "rev-parse", "--short", "HEAD"], check=True,
                              capture_output=True, text=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def plot(figures, mode, path):
    """Draws memo throughput, host read cost and discovery time against their scale."""
    if os.path.exists(path):
        os.remove(path)  # never leave an older run's plot beside this run's figures
    if not shutil.which("gnuplot"):
        print("report.py: gnuplot (Debian's gnuplot-nox) is missing; no plot", file=sys.stderr)
        return

    def block(name, pattern, *columns):
        rows = [" ".join([str(n)] + [text(figures.get(c.format(n))) for c in columns])
                for n in numbered(figures, pattern)]
        return "\n".join([f"${name} << EOD"] + rows + ["EOD"])

    script = "\n".join([
        block("tput", r"memo\.throughput\.(\d+)MiB\.plugin_MBps",
              "memo.throughput.{}MiB.plugin_MBps", "memo.throughput.{}MiB.plain_MBps"),
        block("off", r"host_read\.off\.(\d+)\.ns_per_entry", "host_read.off.{}.ns_per_entry"),
        block("on", r"host_read\.on\.(\d+)\.ns_per_entry", "host_read.on.{}.ns_per_entry"),
        block("converge", r"discovery\.(\d+)\.converge_ms", "discovery.{}.converge_ms"),
        'set terminal pngcairo size 1500,450 font ",10"',
        f"set output {json.dumps(path)}",
        f'set multiplot layout 1,3 title "Peerbeacon scaling ({mode} run, medians)"',
        "set grid",
        "set key top left",
        "set datafile missing '-'",
        'set title "Memo throughput"',
        'set xlabel "memo size (MiB)"; set ylabel "MB/s"; set logscale x 2',
        'plot $tput using 1:2 with linespoints title "plug-in", '
        '$tput using 1:3 with linespoints title "plain TCP"',
        "unset logscale",
        'set title "Host read cost per entry"',
        'set xlabel "peers"; set ylabel "ns per entry (log)"; set logscale xy 10',
        'plot $off using 1:2 with linespoints title "node list off", '
        '$on using 1:2 with linespoints title "node list on"',
        "unset logscale",
        'set title "Discovery convergence"',
        'set xlabel "instances"; set ylabel "ms from last start"; set yrange [0:*]',
        'plot $converge using 1:2 with linespoints title "all list all"',
        "unset multiplot",
    ])
    if subprocess.run(["gnuplot"], input=script, text=True).returncode != 0:
        print("report.py: gnuplot failed; no plot", file=sys.stderr)
        if os.path.exists(path):
            os.remove(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("results")
    parser.add_argument("--out", required=True)
    parser.add_argument("--mode", choices=("quick", "full"), required=True)
    parser.add_argument("--counts", required=True, help="the discovery instance counts")
    parser.add_argument("--began", type=float, required=True, help="the suite's start (epoch s)")
    args = parser.parse_args()

    figures, samples, failures = read_results(args.results)
    derive(figures, samples)
    goals = judge(figures)
    failures += check(figures, goals)
    seconds = int(time.time() - args.began)
    host = machine()

    report = table(figures, goals, failures, args.mode, args.counts.split(), args.out, seconds,
                   host)
    sys.stdout.write(report)
    with open(os.path.join(args.out, "table.txt"), "w") as out:
        out.write(report)

    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    results = {
        "suite": "peerbeacon-bench", "mode": args.mode,
        "date": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()), "commit": commit(top),
        "machine": host, "suite_seconds": seconds, "failures": failures,
        "figures": figures, "samples": samples, "goals": goals,
    }
    with open(os.path.join(args.out, "results.json"), "w") as out:
        out.write(to_json(results) + "\n")

    plot(figures, args.mode, os.path.join(args.out, "scaling.png"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
