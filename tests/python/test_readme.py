# Every Python example of README.md runs as written.
import os
import re

import pytest

EXAMPLES = re.findall(r"```python\n(.*?)```", open(os.environ["VARONET_README"]).read(), re.S)


def test_the_readme_has_python_examples():
    assert len(EXAMPLES) >= 5


@pytest.mark.parametrize("source", EXAMPLES, ids=[s.splitlines()[-1][:40] for s in EXAMPLES])
def test_a_readme_example_runs(source):
    exec(compile(source, "README.md", "exec"), {"__name__": "readme"})
