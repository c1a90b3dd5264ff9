"""orvelle.netweave(path) against json.loads of the same netlist's JSON, from Python.

Each measurement runs in a process of its own, so that its peak memory (ru_maxrss) is its
own; the two alternate, round after round, so that both meet the same load on the machine.

    build-bench/bench/netweave_file --generate 1000000 /tmp/nl.sp
    build/orvelle netweave /tmp/nl.sp --format json -o /tmp/nl.json
    /usr/bin/python3 bench/python_netweave_bench.py /tmp/nl.sp /tmp/nl.json --rounds 3

netweave is timed from the call to the dict in hand, the file read included; json.loads from
the JSON text already in memory (a str) to the dict in hand. Beside the clock, the CPU time
of the process over the same span (all threads: the reader uses two), which the machine's
other load disturbs less. Each round's ratio compares the two runs next to each other.
"""

import argparse
import json
import pathlib
import resource
import statistics
import subprocess
import sys
import time

PACKAGE = pathlib.Path(__file__).resolve().parents[1] / "build" / "python"


def measure(kind: str, path: str) -> dict:
    if kind == "netweave":
        import orvelle

        read = lambda: orvelle.netweave(path)  # noqa: E731
    else:
        with open(path, encoding="utf-8") as file:
            text = file.read()
        read = lambda: json.loads(text)  # noqa: E731
    start, cpu_start = time.perf_counter(), time.process_time()
    nets = read()
    seconds, cpu = time.perf_counter() - start, time.process_time() - cpu_start
    instances = sum(len(net["instances"]) for net in nets.values())
    peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    return {"seconds": seconds, "cpu": cpu, "peak_kib": peak_kib, "instances": instances}


def run_child(kind: str, path: str, package: str) -> dict:
    done = subprocess.run(
        [sys.executable, __file__, "--child", kind, path, "--package", package],
        capture_output=True,
        text=True,
        check=True,
    )
    return json.loads(done.stdout)


def summary(name: str, runs: list) -> str:
    seconds = [run["seconds"] for run in runs]
    cpu = [run["cpu"] for run in runs]
    peaks = [run["peak_kib"] / 1024 for run in runs]
    each = ", ".join(f"{s:.2f}" for s in seconds)
    return (f"{name:<9} median {statistics.median(seconds):.2f} s ({each}), "
            f"CPU {statistics.median(cpu):.2f} s; peak {min(peaks):.0f} to {max(peaks):.0f} MiB")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("netlist")
    parser.add_argument("json", nargs="?")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--package", default=str(PACKAGE), help="folder holding orvelle/")
    parser.add_argument("--child", choices=["netweave", "json"], help=argparse.SUPPRESS)
    args = parser.parse_args()
    sys.path.insert(0, args.package)
    if args.child:
        print(json.dumps(measure(args.child, args.netlist)))
        return

    runs = {"netweave": [], "json": []}
    for round_number in range(args.rounds):
        for kind, path in (("netweave", args.netlist), ("json", args.json)):
            run = run_child(kind, path, args.package)
            runs[kind].append(run)
            print(f"round {round_number + 1} {kind}: {run['seconds']:.2f} s, "
                  f"CPU {run['cpu']:.2f} s, peak {run['peak_kib'] / 1024:.0f} MiB, "
                  f"{run['instances']} instances")
    print(summary("netweave", runs["netweave"]))
    print(summary("json", runs["json"]))
    ratios = [ours["seconds"] / theirs["seconds"] for ours, theirs in zip(*runs.values())]
    peak_ratio = max(r["peak_kib"] for r in runs["netweave"]) / min(
        r["peak_kib"] for r in runs["json"])
    print(f"netweave / json.loads: time {statistics.median(ratios):.2f} "
          f"(rounds: {', '.join(f'{r:.2f}' for r in ratios)}), peak memory {peak_ratio:.2f}")


if __name__ == "__main__":
    main()
