import inspect

import orvelle


def test_public_names_version_and_signatures():
    assert orvelle.__version__ == "0.1.0"
    assert issubclass(orvelle.ParseError, ValueError)
    assert issubclass(orvelle.ParseWarning, UserWarning)
    for name in orvelle.__all__:
        assert hasattr(orvelle, name), name
    signature = inspect.signature(orvelle.netweave)
    assert str(signature) == "(path_or_buf, settings_keymap=None, component_map=None, **kwargs)"
    assert str(inspect.signature(orvelle.register_pdk)) == "(path_or_mapping)"
