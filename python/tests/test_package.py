import orvelle


def test_package_has_version():
    assert orvelle.__version__ == "0.1.0"
