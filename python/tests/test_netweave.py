"""netweave from Python gives what the command gives, for every kind of argument."""

import io
import math
import os
import pathlib

import pytest

import orvelle
from conftest import EXAMPLES, GOLDEN, command_json, generated_netlist, same


def golden_netlists():
    for expected in sorted(GOLDEN.glob("*.json")):
        beside = expected.with_suffix(".sp")
        yield pytest.param(beside if beside.exists() else EXAMPLES / beside.name, id=expected.stem)


@pytest.mark.parametrize("netlist", golden_netlists())
def test_golden_files_read_as_the_command_reads_them(netlist):
    kit = GOLDEN / f"{netlist.stem}.kit.yaml"
    options = []
    if kit.exists():
        orvelle.activate_pdk(orvelle.register_pdk(kit).name)
        options = ["--pdk", str(kit)]
    assert same(orvelle.netweave(netlist), command_json(netlist, *options))


# 6000 lines make about 400 KB: past the size from which the reader uses a second thread.
@pytest.mark.parametrize("instances", [1, 7, 300, 6000])
def test_generated_netlists_read_as_the_command_reads_them(tmp_path, instances):
    netlist = tmp_path / "generated.sp"
    netlist.write_text(generated_netlist(instances, seed=instances), encoding="utf-8")
    if instances == 6000:
        assert netlist.stat().st_size > 256 * 1024
    nets = orvelle.netweave(
        netlist,
        {"length": "len", "radius": "r"},
        {"bend_euler": "bend", "ring_ü": "ring"},
        n=5,
        delta=3.5e-5,
        tag="word",
    )
    expected = command_json(
        netlist,
        "--settings-keymap", "length=len", "--settings-keymap", "radius=r",
        "--component-map", "bend_euler=bend", "--component-map", "ring_ü=ring",
        "-D", "n=5", "-D", "delta=3.5e-5", "-D", "tag=word",
    )
    assert same(nets, expected)


def test_every_kind_of_source_gives_the_same_netlist(tmp_path):
    text = generated_netlist(40, seed=3)
    path = tmp_path / "c.sp"
    path.write_text(text, encoding="utf-8")

    class Located:
        def __fspath__(self):
            return os.fsencode(path)

    expected = orvelle.netweave(str(path))
    with open(path, encoding="utf-8") as text_file, open(path, "rb") as binary_file:
        sources = [
            pathlib.Path(path),
            Located(),
            io.StringIO(text),
            io.BytesIO(text.encode()),
            text_file,
            binary_file,
        ]
        for source in sources:
            assert same(orvelle.netweave(source), expected), source
        assert not text_file.closed and not binary_file.closed


def test_optional_mappings_may_be_none_or_empty_and_are_given_by_name():
    text = ".subckt top a b\nX1 a b wg length=2\n.ends\n"
    plain = orvelle.netweave(io.StringIO(text))
    assert same(orvelle.netweave(io.StringIO(text), {}, {}), plain)
    assert same(orvelle.netweave(path_or_buf=io.StringIO(text), settings_keymap=None), plain)
    renamed = orvelle.netweave(
        io.StringIO(text), component_map={"wg": "straight"}, settings_keymap={"length": "len"}
    )
    assert renamed["top"]["instances"]["X1"] == {"component": "straight", "settings": {"len": 2}}


NAMED_VALUES = {
    "an_int": -7,
    "a_float": 2.5,
    "a_str": "ü-text",
    "a_bool": True,
    "nothing": None,
    "a_list": [1, 2.0, "x", [False, None]],
    "a_dict": {"b": {"c": [1, {"d": "e"}]}, "a": 1},
    # Large mappings, and large mappings that repeat the keys of one before them.
    "a_big_dict": {f"k{i}": i * 0.5 for i in range(40, 0, -1)},
    "big_siblings": [
        {f"é{i}" if i % 7 == 3 else f"n{i}": [i] for i in range(k, 30)} for k in range(4)
    ],
}


def test_named_values_of_every_kind_reach_the_settings_unchanged():
    referring = " ".join(f"{name}='{name}'" for name in NAMED_VALUES)
    text = f".subckt top a b\nX1 a b straight {referring}\n.ends\n"
    nets = orvelle.netweave(io.StringIO(text), **NAMED_VALUES)
    settings = nets["top"]["instances"]["X1"]["settings"]
    for name, value in NAMED_VALUES.items():
        assert same(settings[name], value), name


def test_a_named_value_that_is_not_finite_comes_back_as_the_json_writer_writes_it():
    text = ".subckt top a b\nX1 a b straight w='w' v='v'\n.ends\n"
    nets = orvelle.netweave(io.StringIO(text), w=math.inf, v=[math.nan, 1.0])
    assert nets["top"]["instances"]["X1"]["settings"] == {"w": None, "v": [None, 1.0]}


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: orvelle.netweave(io.StringIO(""), bad={1, 2}), "bad is of type set"),
        (lambda: orvelle.netweave(io.StringIO(""), bad=(1, 2)), "bad is of type tuple"),
        (
            lambda: orvelle.netweave(io.StringIO(""), bad={"a": [0, b"x"]}),
            "bad['a'][1] is of type bytes",
        ),
        (lambda: orvelle.netweave(io.StringIO(""), bad={1: 2}), "bad has the key 1"),
        (lambda: orvelle.netweave(io.StringIO(""), [("a", "b")]), "settings_keymap must be a dict"),
        (lambda: orvelle.netweave(io.StringIO(""), None, "a=b"), "component_map must be a dict"),
        (lambda: orvelle.netweave(b"c.sp"), "path_or_buf must be a str, an os.PathLike"),
        (lambda: orvelle.netweave(3), "path_or_buf must be a str, an os.PathLike"),
        (lambda: orvelle.netweave(io.StringIO(""), {}, {}, {}), ""),
        (lambda: orvelle.netweave("c.sp", path_or_buf="c.sp"), ""),
    ],
)
def test_arguments_of_other_kinds_are_type_errors_naming_them(call, message):
    with pytest.raises(TypeError, match=message.replace("[", r"\[").replace("]", r"\]")):
        call()


def test_other_argument_troubles_keep_their_python_kind():
    class Reads:
        def read(self):
            return 42

    with pytest.raises(TypeError, match="read\\(\\) gave int"):
        orvelle.netweave(Reads())
    with pytest.raises(OverflowError, match="big is an integer past 64 bits"):
        orvelle.netweave(io.StringIO(""), big=2**64)
    nested = []
    for _ in range(100_000):
        nested = [nested]
    with pytest.raises(RecursionError):
        orvelle.netweave(io.StringIO(""), deep=nested)
    with pytest.raises(ValueError, match="embedded null byte"):
        orvelle.netweave("examples/mzi.sp\0.txt")
