"""The README's Python example, run as written: it prints what its comments say."""

import re

from conftest import REPO, run_python


def readme_example():
    readme = (REPO / "README.md").read_text(encoding="utf-8")
    section = readme[readme.index("### From Python") :]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def test_the_readme_example_prints_what_it_says():
    code = readme_example()
    promised = [
        line.split("# ", 1)[1]
        for line in code.splitlines()
        if line.lstrip().startswith("print(") and "# " in line
    ]
    done = run_python(code, cwd=REPO)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == promised
    assert done.stderr == ""
