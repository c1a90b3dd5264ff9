import orvelle


def test_public_names_and_version():
    assert orvelle.__version__ == "0.1.0"
    assert issubclass(orvelle.ParseError, ValueError)
    assert issubclass(orvelle.ParseWarning, UserWarning)
    for name in orvelle.__all__:
        assert hasattr(orvelle, name), name
