"""The reader's errors and warnings in Python's own kinds, through Python's own channels."""

import errno
import io
import pickle
import warnings

import pytest

import orvelle
from conftest import generated_netlist, run_python

UNSUPPORTED = ".subckt top a b\nX1 a b straight\n\n.foo bar\n.ends\n"
BAD_BYTE = b".subckt top a b\nX1 a b straight\n\xff\n.ends\n"
UNPARSABLE = ".subckt top a b\nX1 a b straight length='1/0'\nX2 a b straight width='w/0'\n.ends\n"


def test_parse_error_carries_the_message_line_and_file(tmp_path):
    path = tmp_path / "c.sp"
    path.write_text(UNSUPPORTED)
    with pytest.raises(orvelle.ParseError) as from_file:
        orvelle.netweave(path)
    assert (str(from_file.value), from_file.value.line) == ("Unsupported command: .foo.", 4)
    assert from_file.value.filename == str(path)
    with pytest.raises(orvelle.ParseError) as from_buffer:
        orvelle.netweave(io.StringIO(UNSUPPORTED))
    assert (from_buffer.value.line, from_buffer.value.filename) == (4, None)
    again = pickle.loads(pickle.dumps(from_file.value))
    assert type(again) is orvelle.ParseError
    assert (str(again), again.line, again.filename) == ("Unsupported command: .foo.", 4, str(path))


def test_parse_error_of_a_large_netlist_points_at_its_line():
    text = generated_netlist(6000, seed=2).replace(".ends top2", ".foo\n.ends top2")
    with pytest.raises(orvelle.ParseError, match="Unsupported command: .foo.") as error:
        orvelle.netweave(io.StringIO(text))
    assert error.value.line == text.count("\n") - 1


@pytest.mark.parametrize(
    "source",
    [
        lambda: io.BytesIO(BAD_BYTE),
        # Text decoded with errors="surrogateescape" holds the bad byte as a lone surrogate.
        lambda: io.StringIO(BAD_BYTE.decode(errors="surrogateescape")),
    ],
)
def test_invalid_utf8_is_a_parse_error_on_its_line(source):
    with pytest.raises(orvelle.ParseError, match="not valid UTF-8") as error:
        orvelle.netweave(source())
    assert error.value.line == 3


def test_files_that_cannot_be_read_are_os_errors_with_errno_and_filename(tmp_path):
    missing = tmp_path / "missing.sp"
    with pytest.raises(FileNotFoundError) as error:
        orvelle.netweave(missing)
    assert (error.value.errno, error.value.filename) == (errno.ENOENT, str(missing))
    with pytest.raises(IsADirectoryError):
        orvelle.netweave(tmp_path)


def test_a_netlist_the_reader_rejects_late_is_a_value_error():
    with pytest.raises(ValueError, match="component_map: the new name for 'straight'"):
        orvelle.netweave(io.StringIO(UNSUPPORTED), component_map={"straight": 3})


def messages(caught):
    return [str(w.message) for w in caught if w.category is orvelle.ParseWarning]


def test_warnings_go_through_the_warnings_module_in_order():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        nets = orvelle.netweave(io.StringIO(UNPARSABLE))
    assert [m.split(".")[0] for m in messages(caught)] == [
        "Could not parse '1/0'",
        "Could not parse 'w/0'",
    ]
    assert caught[0].filename == __file__  # shown at the caller's line
    assert nets["top"]["instances"]["X1"]["settings"] == {"length": None}
    with warnings.catch_warnings(record=True) as caught:
        warnings.filterwarnings("ignore", category=orvelle.ParseWarning)
        orvelle.netweave(io.StringIO(UNPARSABLE))
    assert caught == []


def test_a_warning_made_an_error_ends_the_call():
    with warnings.catch_warnings():
        warnings.simplefilter("error", orvelle.ParseWarning)
        with pytest.raises(orvelle.ParseWarning, match="Could not parse '1/0'"):
            orvelle.netweave(io.StringIO(UNPARSABLE))
    code = "import sys, io, orvelle; orvelle.netweave(io.StringIO(sys.argv[1])); print('read')"
    shown = run_python(code, UNPARSABLE)
    assert shown.stdout == "read\n" and "ParseWarning: Could not parse '1/0'" in shown.stderr
    strict = run_python(code, UNPARSABLE, flags=["-W", "error"])
    assert strict.returncode == 1 and strict.stdout == ""
    assert "orvelle.ParseWarning: Could not parse '1/0'" in strict.stderr


def resident_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS"))


def test_failed_calls_free_what_they_read():
    # A leaked netlist of this size would add some 5 MB per call.
    warned = io.StringIO(generated_netlist(6000, seed=4, warn="1/0")).getvalue()
    failing = warned.replace(".ends top4", ".foo\n.ends top4")

    def fail_both_ways():
        with warnings.catch_warnings():
            warnings.simplefilter("error", orvelle.ParseWarning)
            with pytest.raises(orvelle.ParseWarning):
                orvelle.netweave(io.StringIO(warned))
            warnings.simplefilter("ignore", orvelle.ParseWarning)
            with pytest.raises(orvelle.ParseError):
                orvelle.netweave(io.StringIO(failing))

    fail_both_ways()
    before = resident_kib()
    for _ in range(20):
        fail_both_ways()
    assert resident_kib() - before < 40 * 1024
