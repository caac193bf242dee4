"""A minimal build backend: a pure-Python wheel of the krbclient package, standard library only.

pip's build isolation would otherwise fetch a backend from the package index, which the
lab's machines cannot reach.
"""

from __future__ import annotations

import base64
import hashlib
import tomllib
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PACKAGE = "krbclient"
TAG = "py3-none-any"


def _project() -> dict:
    with open(ROOT / "pyproject.toml", "rb") as file:
        return tomllib.load(file)["project"]


def _dist_info(project: dict) -> str:
    return f"{project['name']}-{project['version']}.dist-info"


def _metadata(project: dict) -> str:
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"Requires-Python: {project['requires-python']}",
        "Description-Content-Type: text/markdown",
        "",
        (ROOT / project["readme"]).read_text(encoding="utf-8"),
    ]
    return "\n".join(lines)


def _entry_points(project: dict) -> str:
    scripts = project.get("scripts", {})
    return "[console_scripts]\n" + "".join(f"{k} = {v}\n" for k, v in scripts.items())


def _wheel_file() -> str:
    return f"Wheel-Version: 1.0\nGenerator: krb_wheel\nRoot-Is-Purelib: true\nTag: {TAG}\n"


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(wheel_directory: str, files: dict[str, bytes]) -> str:
    project = _project()
    info = _dist_info(project)
    files = {
        **files,
        f"{info}/METADATA": _metadata(project).encode(),
        f"{info}/WHEEL": _wheel_file().encode(),
        f"{info}/entry_points.txt": _entry_points(project).encode(),
        f"{info}/top_level.txt": f"{PACKAGE}\n".encode(),
    }
    record = [_record_line(name, data) for name, data in files.items()]
    record.append(f"{info}/RECORD,,")
    files[f"{info}/RECORD"] = ("\n".join(record) + "\n").encode()
    name = f"{project['name']}-{project['version']}-{TAG}.whl"
    with zipfile.ZipFile(Path(wheel_directory) / name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files.items():
            wheel.writestr(path, data)
    return name


def _package_files() -> dict[str, bytes]:
    source = ROOT / PACKAGE
    return {
        f"{PACKAGE}/{path.relative_to(source).as_posix()}": path.read_bytes()
        for path in sorted(source.rglob("*.py"))
    }


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, _package_files())


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    # A path entry pointing at the source tree: edits take effect without reinstalling.
    return _write_wheel(wheel_directory, {f"_{PACKAGE}_editable.pth": f"{ROOT}\n".encode()})
