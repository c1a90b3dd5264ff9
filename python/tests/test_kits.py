"""The kit registry from Python: what netweave asks for ports."""

import json
import os

import pytest

import orvelle
from conftest import EXAMPLES, command_json, run_python, same

ACME = EXAMPLES / "acme.yaml"
USES_KIT_PARTS = ".subckt top a b c\nX1 a b c mmi1x2\nX2 b c d e ring\nX3 e a pad\n.ends\n"
ACME_AS_DICT = {
    "name": "acme",
    "models": {
        "mmi1x2": {"ports": ["o3", "o1", "o2"]},
        "ring": {"ports": ["through", "drop", "in1", "add"]},
    },
    "cells": {"pad": {"ports": ["e2", "e1"]}},
}


def test_the_embedded_kit_is_active_until_another_is():
    kit = orvelle.get_active_pdk()
    assert kit.name == "generic"
    assert kit.models["mmi1x2"] == ["o1", "o3", "o2"]
    assert kit.cells["pad"] == ["e1", "e2", "e4", "e3"]


def test_a_kit_file_or_its_dict_gives_the_ports_the_command_gives(tmp_path):
    netlist = tmp_path / "c.sp"
    netlist.write_text(USES_KIT_PARTS)
    with_generic = orvelle.netweave(netlist)
    from_file = orvelle.register_pdk(ACME)
    assert from_file == orvelle.Pdk(
        "acme",
        {"mmi1x2": ["o3", "o1", "o2"], "ring": ["through", "drop", "in1", "add"]},
        {"pad": ["e2", "e1"]},
    )
    assert orvelle.get_active_pdk().name == "generic"  # registered, not yet active
    orvelle.activate_pdk("acme")
    with_acme = orvelle.netweave(netlist)
    assert same(with_acme, command_json(netlist, "--pdk", str(ACME)))
    assert not same(with_acme, with_generic)
    assert orvelle.register_pdk(ACME_AS_DICT) == from_file
    assert orvelle.get_active_pdk() == from_file  # replaced, and still the active one
    assert same(orvelle.netweave(netlist), with_acme)


def test_malformed_kits_are_value_errors_naming_the_key(tmp_path):
    bad_file = tmp_path / "kit.yaml"
    bad_file.write_text("name: k\nmodels: {m: {ports: o1}}\n")
    expected = f"kit file '{bad_file}': key 'models.m.ports' must be a list"
    with pytest.raises(ValueError, match=expected):
        orvelle.register_pdk(bad_file)
    with pytest.raises(ValueError, match="kit mapping: key 'cells.c.prots' is not known"):
        orvelle.register_pdk({"name": "k", "cells": {"c": {"prots": ["o1"]}}})
    with pytest.raises(ValueError, match="unknown kit 'nope'; registered kits: .*generic"):
        orvelle.activate_pdk("nope")
    with pytest.raises(TypeError, match="path_or_mapping must be a str, an os.PathLike or a dict"):
        orvelle.register_pdk([("name", "k")])
    with pytest.raises(TypeError, match="has the key 1"):
        orvelle.register_pdk({"name": "k", "models": {1: {"ports": ["o1"]}}})


def test_orvelle_pdk_names_the_kit_active_at_first_use(tmp_path):
    netlist = tmp_path / "c.sp"
    netlist.write_text(USES_KIT_PARTS)
    code = (
        "import json, sys, orvelle\n"
        "orvelle.register_pdk(sys.argv[1])\n"
        "print(orvelle.get_active_pdk().name)\n"
        "print(json.dumps(orvelle.netweave(sys.argv[2])))\n"
    )
    done = run_python(code, str(ACME), str(netlist), env=dict(os.environ, ORVELLE_PDK="acme"))
    name, nets = done.stdout.splitlines()
    assert name == "acme", done.stderr
    assert same(json.loads(nets), command_json(netlist, "--pdk", str(ACME)))
    unknown = run_python(
        "import io, orvelle; orvelle.netweave(io.StringIO(''))",
        env=dict(os.environ, ORVELLE_PDK="nope"),
    )
    assert "ValueError: unknown kit 'nope'" in unknown.stderr
