"""The published schema against what the reader writes, and against netlists broken by hand.

Run by CTest with Debian's python3 and python3-jsonschema:
    schema_test.py SCHEMA DATA_DIR ORVELLE GENERATE_NETLIST
"""

import json
import pathlib
import subprocess
import sys
import tempfile
import unittest

import jsonschema

SCHEMA, DATA, ORVELLE, GENERATE = (pathlib.Path(a) for a in sys.argv[1:5])


def validator():
    schema = json.loads(SCHEMA.read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


class Schema(unittest.TestCase):
    def setUp(self):
        self.validator = validator()

    def errors(self, document):
        return [f"/{'/'.join(map(str, e.absolute_path))}: {e.message}"
                for e in self.validator.iter_errors(document)]

    def test_declares_draft_2020_12(self):
        self.assertEqual(json.loads(SCHEMA.read_text())["$schema"],
                         "https://json-schema.org/draft/2020-12/schema")

    def test_every_golden_output_conforms(self):
        goldens = sorted((DATA / "golden").glob("*.json"))
        self.assertTrue(goldens)
        for golden in goldens:
            with self.subTest(golden.name):
                self.assertEqual(self.errors(json.loads(golden.read_text())), [])

    def test_a_generated_netlist_as_written_by_netweave_conforms(self):
        with tempfile.TemporaryDirectory() as folder:
            netlist = pathlib.Path(folder) / "generated.sp"
            written = netlist.with_suffix(".json")
            subprocess.run([GENERATE, "10000", netlist], check=True)
            subprocess.run([ORVELLE, "netweave", netlist, "-o", written], check=True)
            document = json.loads(written.read_text())
            self.assertEqual(len(document["top"]["instances"]), 10000 - 5)
            self.assertEqual(self.errors(document), [])

    def test_netlists_broken_by_hand_do_not_conform(self):
        broken = sorted((DATA / "schema" / "broken").glob("*.json"))
        self.assertGreaterEqual(len(broken), 10)
        for path in broken:
            with self.subTest(path.name):
                self.assertNotEqual(self.errors(json.loads(path.read_text())), [])

    def test_settings_hold_any_value_and_placements_what_the_reader_reads(self):
        netlist = {"instances": {"u1": {"component": "c", "settings": {"a": {"b": [1, None]}}}},
                   "connections": {"u1,o1": "u1,o2"}, "ports": {"in": "u1,o3"},
                   "settings": {"flag": True},
                   "placements": {"u1": {"x": "x0", "y": None, "rotation": [90], "port": ""}}}
        self.assertEqual(self.errors({"top": netlist}), [])
        self.assertEqual(self.errors({}), [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
