"""Module surface: registered names, docstrings, re-import and subinterpreters."""

import importlib
import os
import subprocess
import sys
import textwrap
import types

import pytest

import kestrand

# Every public name the module registers, in registration order.
FULL_ORDER = [
    "UUID",
    "uuid3",
    "uuid5",
    "uuid4_bulk",
    "uuid4_as_strings_bulk",
    "uuid4",
    "uuid1",
    "uuid_v1mc",
    "uuid7_bulk",
    "uuid7_as_strings_bulk",
    "uuid7",
]

# Text signature of each module function.
SIGNATURES = {
    "uuid3": "(namespace, name)",
    "uuid5": "(namespace, name)",
    "uuid4_bulk": "(n)",
    "uuid4_as_strings_bulk": "(n)",
    "uuid4": "()",
    "uuid1": "(node=None, clock_seq=None)",
    "uuid_v1mc": "()",
    "uuid7_bulk": "(n)",
    "uuid7_as_strings_bulk": "(n)",
    "uuid7": "()",
}

FUNCTIONS = FULL_ORDER[1:]


def test_all_lists_registered_names_in_registration_order():
    assert type(kestrand.__all__) is list
    assert kestrand.__all__ == FULL_ORDER


def test_public_attributes_are_exactly_all():
    public = {name for name in dir(kestrand) if not name.startswith("_")}
    assert public == set(kestrand.__all__)
    assert not hasattr(kestrand, "__version__")
    assert isinstance(kestrand.UUID, type)


def test_module_docstring_is_empty_string():
    assert kestrand.__doc__ == ""


def test_reimport_returns_the_same_module_object():
    original = sys.modules["kestrand"]
    names = list(original.__all__)
    del sys.modules["kestrand"]
    try:
        again = importlib.import_module("kestrand")
    finally:
        sys.modules["kestrand"] = original
    assert again is original
    assert again.__all__ == names
    assert again.UUID is original.UUID


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_signature_and_doc(name):
    func = getattr(kestrand, name)
    assert type(func) is types.BuiltinFunctionType
    assert func.__text_signature__ == SIGNATURES[name]
    assert func.__name__ == name
    assert func.__qualname__ == name
    if name != "uuid_v1mc":
        assert func.__doc__ is None


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_module_and_self(name):
    func = getattr(kestrand, name)
    assert func.__module__ == "kestrand"
    assert func.__self__ is kestrand


def test_uuid_v1mc_docstring_layout():
    doc = kestrand.uuid_v1mc.__doc__
    assert not doc.endswith("\n")
    lines = doc.split("\n")
    assert lines[:3] == [
        "Fast path for uuid1 with a randomly generated MAC address.",
        "à la postgres' uuid extension.",
        "Further Reading:",
    ]
    assert len(lines) == 7
    for line in lines[3:6]:
        assert line.startswith("  - http")
        assert " " not in line[len("  - "):]
    assert lines[6] == "  -"


def test_uuid_class_signature():
    assert kestrand.UUID.__text_signature__ == (
        "(hex=None, bytes=None, bytes_le=None, fields=None, int=None, version=None)"
    )
    # The docstring is the signature block only, so nothing is left over.
    assert not kestrand.UUID.__doc__


def _run_python(code):
    env = dict(os.environ)
    env["KESTRAND_DIR"] = os.path.dirname(os.path.abspath(kestrand.__file__))
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, env=env, timeout=120,
    )


SUBINTERP_IMPORT = '''
import sys, os
sys.path.insert(0, os.environ["KESTRAND_DIR"])
try:
    import kestrand
except ImportError as exc:
    outcome = "ImportError:" + str(exc)
except BaseException as exc:
    outcome = "other:" + type(exc).__name__ + ":" + str(exc)
else:
    outcome = "imported"
with open(OUT, "w", encoding="utf-8") as fh:
    fh.write(outcome)
'''


def test_subinterpreter_import_is_refused_and_main_module_keeps_working(tmp_path):
    pytest.importorskip("_testcapi")
    out = tmp_path / "outcome.txt"
    code = f'''
    import os, sys
    sys.path.insert(0, os.environ["KESTRAND_DIR"])
    import _testcapi
    import kestrand
    sub = "OUT = {str(out)!r}\\n" + {SUBINTERP_IMPORT!r}
    results = []
    for _ in range(2):
        assert _testcapi.run_in_subinterp(sub) == 0
        with open({str(out)!r}, encoding="utf-8") as fh:
            results.append(fh.read())
    print(repr(results))
    u = kestrand.UUID(int=0x00112233445566778899aabbccddeeff)
    print(str(u))
    print(sys.modules["kestrand"] is kestrand)
    '''
    proc = _run_python(code)
    assert proc.returncode == 0, proc.stderr
    results_line, text_line, same_line = proc.stdout.splitlines()
    results = eval(results_line)
    assert len(results) == 2
    for outcome in results:
        # Both attempts fail: the refusal lasts for the rest of the process.
        assert outcome.startswith("ImportError:")
        assert "subinterpreter" in outcome.lower()
    assert text_line == "00112233-4455-6677-8899-aabbccddeeff"
    assert same_line == "True"


def test_only_one_interpreter_gets_the_module(tmp_path):
    # When a subinterpreter imports first, only one of the two interpreters
    # may end up with the module. Up to 3.12 the subinterpreter runs the
    # module's init itself and becomes the owner; from 3.13 on the
    # interpreter runs the init of such modules in the main interpreter
    # first, so the main interpreter owns it.
    pytest.importorskip("_testcapi")
    out = tmp_path / "outcome.txt"
    code = f'''
    import os, sys
    sys.path.insert(0, os.environ["KESTRAND_DIR"])
    import _testcapi
    sub = "OUT = {str(out)!r}\\n" + {SUBINTERP_IMPORT!r}
    assert _testcapi.run_in_subinterp(sub) == 0
    with open({str(out)!r}, encoding="utf-8") as fh:
        print(fh.read())
    try:
        import kestrand
    except ImportError as exc:
        print("ImportError")
    else:
        print("imported")
    '''
    proc = _run_python(code)
    assert proc.returncode == 0, proc.stderr
    sub_outcome, main_outcome = proc.stdout.splitlines()
    if sys.version_info < (3, 13):
        assert (sub_outcome, main_outcome) == ("imported", "ImportError")
    else:
        assert sub_outcome.startswith("ImportError:")
        assert main_outcome == "imported"


@pytest.mark.skipif(sys.version_info < (3, 14), reason="concurrent.interpreters is new in 3.14")
def test_interpreters_of_concurrent_interpreters_are_refused_before_and_after_the_main_one():
    # The public way to run a subinterpreter from 3.14 on. Such interpreters
    # are isolated, so the interpreter itself refuses a module of this kind.
    code = '''
    import os, sys
    sys.path.insert(0, os.environ["KESTRAND_DIR"])
    from concurrent import interpreters
    attempt = "import sys, os; sys.path.insert(0, os.environ['KESTRAND_DIR']); import kestrand"
    outcomes = []
    for main_first in (False, True):
        if main_first:
            import kestrand
        interp = interpreters.create()
        try:
            interp.exec(attempt)
        except interpreters.ExecutionFailed as failed:
            outcomes.append((failed.excinfo.type.__name__, "subinterpreter" in failed.excinfo.msg))
        else:
            outcomes.append(("imported", False))
        finally:
            interp.close()
    print(repr(outcomes))
    print(kestrand.UUID(int=1).hex, kestrand.uuid4().version)
    '''
    proc = _run_python(code)
    assert proc.returncode == 0, proc.stderr
    outcomes, last = proc.stdout.splitlines()
    assert eval(outcomes) == [("ImportError", True)] * 2
    assert last == "00000000000000000000000000000001 4"
