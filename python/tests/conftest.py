"""Shared helpers: the command to compare with, and netlists made to order."""

from __future__ import annotations

import json
import os
import pathlib
import random
import subprocess
import sys

import pytest

import orvelle

REPO = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"
GOLDEN = REPO / "tests" / "data" / "golden"
BINARY = pathlib.Path(os.environ.get("ORVELLE_BINARY", REPO / "build" / "orvelle"))


def command_json(netlist, *options: str):
    """json.loads of `orvelle netweave NETLIST --format json OPTIONS...`."""
    done = subprocess.run(
        [str(BINARY), "netweave", str(netlist), "--format", "json", *options],
        capture_output=True,
        text=True,
        check=True,
        env={k: v for k, v in os.environ.items() if k != "ORVELLE_PDK"},
    )
    return json.loads(done.stdout)


def same(a, b) -> bool:
    """Equal with the order of every mapping and the kind of every number (1 is not 1.0)."""
    return json.dumps(a) == json.dumps(b)


def run_python(code: str, *args: str, flags=(), timeout: float = 120, env=None, cwd=None):
    """Runs `code` in a fresh interpreter (with `flags`) that finds the package under test."""
    return subprocess.run(
        [sys.executable, *flags, "-c", code, *args],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=timeout,
        env=env if env is not None else dict(os.environ),
    )


def generated_netlist(instances: int, seed: int = 0, warn: str | None = None) -> str:
    """A netlist with a leaf subcircuit and a chain of `instances` instance lines: kit parts,
    instances of the leaf, unit suffixes, expressions, continuation lines, comments, location
    comments and a few non-ASCII names. `warn` adds a setting the reader warns about."""
    rng = random.Random(seed)
    lines = [
        f"* generated netlist {seed}",
        ".subckt arm a b length=10u",
        "Xw a n1 straight length='length' $ location=(0,0,0)",
        "Xb n1 b bend_euler radius=5u",
        "+ angle=90 $ location=(10,0,90)(o1)",
        ".ends arm",
        f".subckt top{seed} in out delta=20u n=3",
    ]
    net = "in"
    for i in range(instances):
        after = "out" if i == instances - 1 else f"n{i}"
        kind = rng.randrange(5)
        if kind == 0:
            line = f"Xs{i} {net} {after} straight length={rng.randint(1, 999)}u width=0.5u"
        elif kind == 1:
            line = f"Xa{i} {net} {after} arm length='delta' extra='{rng.randint(1, 4)}*3'"
        elif kind == 2:
            line = f"Xc{i} {net} {after} coupler gap={rng.random():.6f} n='n' tag=t{i % 7}"
        elif kind == 3:
            line = f"Xé{i} {net} {after} ring_{'ü' if i % 2 else 'u'} k={{1,2}}"
        else:
            line = f"Xb{i} {net} {after} bend_euler radius={rng.randint(1, 50)}"
        if i % 4 == 1:
            line = line.replace(f" {net} ", f" {net}\n+ ", 1)
        if i % 8:
            mirror = "(o1)" if i % 3 == 0 else ""
            line += f" $ location=({i},{-i * 2},{90 * (i % 4)}){mirror}"
        if i % 50 == 0:
            lines.append(f"* section {i // 50}")
        lines.append(line)
        net = after
    if warn is not None:
        lines.append(f"Xwarn{seed} out dangling straight length='{warn}'")
    lines.append(f".ends top{seed}")
    return "\n".join(lines) + "\n"


@pytest.fixture(autouse=True)
def generic_kit():
    """Every test starts and ends with the embedded kit active."""
    orvelle.activate_pdk("generic")
    yield
    orvelle.activate_pdk("generic")
