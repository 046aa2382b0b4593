"""The package installs from the repository into a fresh virtual environment, offline."""
import os
import shutil
import subprocess
import sys

PACKAGE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def test_the_package_installs_into_a_fresh_virtual_environment_without_network(tmp_path):
    # A copy, so that the build leaves nothing in the repository.
    source = shutil.copytree(PACKAGE, tmp_path / "source", ignore=shutil.ignore_patterns("tests", "__pycache__"))
    environment = tmp_path / "env"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", str(environment)],
                   check=True)
    python = str(environment / "bin" / "python")
    # The test command points PYTHONPATH at the source, where the installed
    # copy is meant, and preloads a sanitizer runtime that pip does not need.
    clean = {name: value for name, value in os.environ.items() if name not in ("PYTHONPATH", "LD_PRELOAD")}
    subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-build-isolation", str(source)],
                   check=True, env=clean)
    where = subprocess.run([python, "-c", "import zelbridge; print(zelbridge.__file__, zelbridge.__version__)"],
                           check=True, capture_output=True, text=True, cwd=tmp_path, env=clean).stdout
    assert where.startswith(str(environment)), where
