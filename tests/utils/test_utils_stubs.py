"""The typed stubs of the extension modules agree with the modules a user imports.

mypy's stubtest compares every stub with the module at run time: names,
parameters, their kinds and defaults, record fields. It runs on the package
as it is imported here, so with an installed package it also checks that the
stubs and py.typed were installed beside the modules.
"""

import ast
import contextlib
import importlib
import importlib.machinery
import inspect
import io
import re
import site
import sysconfig
from pathlib import Path

import pytest
from mypy import api as mypy_api
from mypy import stubtest

from brimvale_chemistry.molecule import Molecule
from brimvale_chemistry.workflow import MolecularDMRGWorkflow

PACKAGES = ("brimvale", "brimvale_chemistry")

# Third-party packages are read as Any: loading their own stubs takes seconds,
# and they are not what is checked here. The package's Python modules that
# the stubs import are read for their types, but their own findings are
# not reported.
MYPY_CONFIG = """\
[mypy]
follow_imports = silent
{search_path}
[mypy-numpy.*,scipy.*,tenpy.*,openfermion.*,pyscf.*,matplotlib.*,tqdm.*]
follow_imports = skip
follow_imports_for_stubs = True
ignore_missing_imports = True
"""


def _package_root(package: str) -> Path:
    return Path(importlib.import_module(package).__file__).parent


def _extension_modules() -> list[str]:
    """Every extension module file of the two packages, as a module name."""
    suffixes = importlib.machinery.EXTENSION_SUFFIXES  # longest first
    names = set()
    for package in PACKAGES:
        root = _package_root(package)
        for path in root.rglob("*"):
            suffix = next((s for s in suffixes if path.name.endswith(s)), None)
            if suffix:
                parts = path.relative_to(root.parent).parent.parts
                names.add(".".join((*parts, path.name[: -len(suffix)])))
    return sorted(names)


@pytest.fixture(scope="module")
def mypy_config(tmp_path_factory) -> Path:
    # mypy finds an installed package by its py.typed; a source tree on
    # PYTHONPATH has to be named (mypy refuses a site directory there).
    source_root = _package_root(PACKAGES[0]).parent.resolve()
    site_dirs = {
        Path(p).resolve()
        for p in (*site.getsitepackages(), sysconfig.get_paths()["purelib"], sysconfig.get_paths()["platlib"])
    }
    search_path = "" if source_root in site_dirs else f"mypy_path = {source_root}"
    path = tmp_path_factory.mktemp("mypy") / "mypy.ini"
    path.write_text(MYPY_CONFIG.format(search_path=search_path))
    return path


def _docstrings(tree: ast.Module, prefix: str):
    """(dotted name, docstring) of the module and every class, method and function that has one."""
    if ast.get_docstring(tree):
        yield prefix, ast.get_docstring(tree)
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            yield from _docstrings(node, f"{prefix}.{node.name}")


def test_stubs_agree_with_the_extension_modules(mypy_config):
    modules = _extension_modules()
    assert len(modules) == 6, modules
    for package in PACKAGES:
        assert (_package_root(package) / "py.typed").is_file(), package

    for name in modules:
        module = importlib.import_module(name)
        stub = Path(module.__file__).parent / (name.rpartition(".")[2] + ".pyi")
        assert stub.is_file(), f"{name} has no stub"

        # stubtest skips a callable whose signature it cannot read.
        for obj in vars(module).values():
            if getattr(obj, "__module__", None) != name or not callable(obj):
                continue
            # Classes of the native kernels have no constructor; their methods have signatures.
            callables = [] if isinstance(obj, type) and type(obj) is not type else [obj]
            if isinstance(obj, type):
                callables += [
                    getattr(obj, m) for m, v in vars(obj).items() if callable(v) and not m.startswith("_pybind11")
                ]
            for f in callables:
                inspect.signature(f)

        # Editors show the stubs' docstrings: each opens the module's own (line breaks aside).
        for qualname, doc in _docstrings(ast.parse(stub.read_text()), name):
            obj = module
            for attribute in qualname.split(".")[len(name.split(".")) :]:
                obj = getattr(obj, attribute)
            assert " ".join(obj.__doc__.split()).startswith(" ".join(doc.split())), qualname

    output = io.StringIO()
    with contextlib.redirect_stdout(output):
        status = stubtest.test_stubs(stubtest.parse_options([*modules, "--mypy-config-file", str(mypy_config)]))
    assert status == 0, output.getvalue()

    # Instance attributes escape stubtest: the workflow's are compared here.
    stub = ast.parse((_package_root("brimvale_chemistry") / "workflow.pyi").read_text())
    body = next(n for n in stub.body if isinstance(n, ast.ClassDef) and n.name == "MolecularDMRGWorkflow").body
    workflow = MolecularDMRGWorkflow(
        Molecule(
            geometry=[("H", (0, 0, 0)), ("H", (0, 0, 0.7414))], basis="sto-3g", active_occupied=1, active_virtual=1
        )
    )
    assert list(vars(workflow)) == [n.target.id for n in body if isinstance(n, ast.AnnAssign)]
    init = inspect.signature(MolecularDMRGWorkflow.__init__)
    assert inspect.signature(MolecularDMRGWorkflow) == init.replace(parameters=list(init.parameters.values())[1:])


# Lines marked "# error" must be reported, and only they.
USER_CODE = """\
import numpy as np
from brimvale_chemistry.corvinth import CvdResult, cvd_dmrg
from brimvale_chemistry.molecule import Molecule
from brimvale_chemistry.workflow import MolecularDMRGWorkflow

result: CvdResult = cvd_dmrg(np.zeros(4), layers=2, maxiter=50, gradient="analytic")
overlap: float = result.overlap_mod
energies: list[float | None] = result.layer_energies
cvd_dmrg(np.zeros(4), layer=2)  # error
label: str = result.cnot_count  # error
cvd_dmrg(np.zeros(4), gradient="exact")  # error
workflow = MolecularDMRGWorkflow(Molecule(geometry=[], basis="sto-3g", active_occupied=1, active_virtual=1))
workflow.run("cvd")  # error
seconds: dict[str, float] = workflow.run("dmrg").stage_seconds
MolecularDMRGWorkflow(workflow.molecule, layers=None, seed=None, workdir="out", cvd_compact=True)
MolecularDMRGWorkflow(workflow.molecule, 5000)  # error
"""


def test_type_checkers_report_misuse_through_the_stubs(mypy_config):
    stdout, stderr, _ = mypy_api.run(["--config-file", str(mypy_config), "--no-incremental", "-c", USER_CODE])
    reported = sorted({int(m) for m in re.findall(r"^<string>:(\d+): error", stdout, re.MULTILINE)})
    expected = [i + 1 for i, line in enumerate(USER_CODE.splitlines()) if line.endswith("# error")]
    assert reported == expected, stdout + stderr
