"""netweave lets go of the GIL while it reads, and threads reading at once get what they
would get one after another."""

import io
import itertools
import os
import threading
import warnings

import orvelle
from conftest import generated_netlist, run_python, same

# Each past the size from which the reader uses a second thread of its own.
NETLISTS = [generated_netlist(5000 + 700 * k, seed=10 + k, warn=f"{k}/0") for k in range(4)]
# One kit name, registered again and again with other port names for the couplers.
KITS = [
    {"name": "churned", "models": {"coupler": {"ports": [f"{p}{i}" for i in range(4)]}}}
    for p in "ab"
]


def read_all_at_once(keep_registering):
    results = [None] * len(NETLISTS)
    start = threading.Barrier(len(NETLISTS) + 1)

    def read(k):
        start.wait()
        results[k] = orvelle.netweave(io.StringIO(NETLISTS[k]))

    threads = [threading.Thread(target=read, args=(k,)) for k in range(len(NETLISTS))]
    for thread in threads:
        thread.start()
    start.wait()
    while any(thread.is_alive() for thread in threads):
        keep_registering()
    for thread in threads:
        thread.join()
    return results


def test_four_threads_read_as_one_after_another_with_their_own_warnings():
    expected = []
    with warnings.catch_warnings(record=True) as one_by_one:
        warnings.simplefilter("always")
        for kit in KITS:
            orvelle.activate_pdk(orvelle.register_pdk(kit).name)
            expected.append([orvelle.netweave(io.StringIO(text)) for text in NETLISTS])
    # A kit registered while others read waits for them: each read sees one kit throughout.
    kits = itertools.cycle(KITS)
    for _ in range(3):
        with warnings.catch_warnings(record=True) as at_once:
            warnings.simplefilter("always")
            results = read_all_at_once(lambda: orvelle.register_pdk(next(kits)))
        for k, got in enumerate(results):
            assert any(same(got, with_kit[k]) for with_kit in expected), k
        assert len(one_by_one) == 2 * len(at_once) == 2 * len(NETLISTS)
        assert sorted(str(w.message) for w in at_once) == sorted(
            str(w.message) for w in one_by_one[: len(NETLISTS)]
        )


def test_the_gil_is_free_while_a_file_is_read(tmp_path):
    # The reading thread waits on a pipe that only the main thread fills: were the GIL held
    # while reading, neither could go on.
    pipe = tmp_path / "pipe"
    os.mkfifo(pipe)
    code = (
        "import sys, threading, orvelle\n"
        "result = {}\n"
        "read = lambda: result.update(nets=orvelle.netweave(sys.argv[1]))\n"
        "reader = threading.Thread(target=read)\n"
        "reader.start()\n"
        "with open(sys.argv[1], 'w') as pipe:\n"
        "    pipe.write(sys.argv[2])\n"
        "reader.join()\n"
        "print(list(result['nets']))\n"
    )
    done = run_python(code, str(pipe), generated_netlist(50, seed=1), timeout=60)
    assert done.stdout == "['top1', 'arm']\n", done.stderr
