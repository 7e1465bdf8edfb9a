"""The generated surface: every entry reachable under its table name, arguments
checked and written in the line language, results converted."""
import datetime
import inspect
import math
import os
import subprocess
import sys

import pytest

import tarvion
from tarvion import _control


def test_every_entry_of_the_library_is_a_method_or_a_property():
    names = [e.name for e in tarvion.entries()]
    assert len(names) == _control._lib.entry_count() > 100
    for e in tarvion.entries():
        attr = inspect.getattr_static(tarvion.Control, e.name)
        if e.kind != _control.METHOD and not e.params:
            assert isinstance(attr, property), e.name
            assert (attr.fset is not None) == (e.kind == _control.GETSET), e.name
        else:
            assert callable(attr), e.name
            ins = [p.name for p in e.params if p.dir != _control.OUT]
            assert list(inspect.signature(attr).parameters)[1:] == ins, e.name


@pytest.mark.parametrize(
    "name,kind,result,params",
    [
        ("AbreCupomFiscal", _control.METHOD, _control.BOOL, []),
        ("UltimoErro", _control.GET, _control.STRING, []),
        ("CashDrawerAttached", _control.GETSET, _control.BOOL, []),
        ("TaxPercents", _control.GET, _control.DOUBLE, [("intTaxNumber", _control.SHORT, _control.IN)]),
        ("ReadDateTime", _control.METHOD, _control.BOOL, [("dtCurrent", _control.DATE, _control.OUT)]),
        (
            "EnviaComandoECF",
            _control.METHOD,
            _control.BOOL,
            [
                ("strComando", _control.STRING, _control.IN),
                ("intTamCmd", _control.LONG, _control.IN),
                ("strResposta", _control.STRING, _control.OUT),
                ("intTamResp", _control.LONG, _control.INOUT),
            ],
        ),
    ],
)
def test_entry_descriptions_come_from_the_c_interface(name, kind, result, params):
    (entry,) = [e for e in tarvion.entries() if e.name == name]
    assert (entry.kind, entry.result) == (kind, result)
    assert [(p.name, p.type, p.dir) for p in entry.params] == params


def test_description_of_indexes_out_of_range_is_refused():
    count = _control._lib.entry_count()
    assert _control._lib.entry_info(count, None, None) == -1
    assert _control._lib.entry_info(-1, None, None) == -1
    assert _control._lib.entry_param(0, 99, None, None, None) is None


@pytest.mark.parametrize(
    "value,type_,written",
    [
        ("plain", _control.STRING, '"plain"'),
        ('a "b" \\ c', _control.STRING, r'"a \"b\" \\ c"'),
        ("l1\nl2\tx\r", _control.STRING, r'"l1\nl2\tx\r"'),
        ("\x00\x1b", _control.STRING, r'"\x00\x1b"'),
        ("AÇÃO", _control.STRING, '"AÇÃO"'),
        ("", _control.STRING, '""'),
        (True, _control.BOOL, "TRUE"),
        (False, _control.BOOL, "FALSE"),
        (-1, _control.BOOL, "-1"),
        (7, _control.LONG, "7"),
        (2.5, _control.DOUBLE, "2.5"),
        (3, _control.DOUBLE, "3.0"),
        (1e20, _control.DOUBLE, "1e+20"),
        (datetime.date(2024, 2, 29), _control.DATE, "2024-02-29"),
        (datetime.datetime(2024, 2, 29, 13, 5, 9, 999), _control.DATE, "2024-02-29T13:05:09"),
    ],
)
def test_arguments_are_written_in_the_line_language(value, type_, written):
    assert _control._argument(value, type_, "x") == written


@pytest.mark.parametrize(
    "value,type_,error",
    [
        (1.5, _control.LONG, TypeError),
        ("1", _control.LONG, TypeError),
        (None, _control.STRING, TypeError),
        (True, _control.DOUBLE, TypeError),
        (math.nan, _control.DOUBLE, ValueError),
        (math.inf, _control.DOUBLE, ValueError),
        (10**400, _control.DOUBLE, ValueError),
        (-(10**400), _control.DOUBLE, ValueError),
        ("2024-01-01", _control.DATE, TypeError),
    ],
)
def test_arguments_of_the_wrong_kind_are_refused_before_the_call(value, type_, error):
    with pytest.raises(error):
        _control._argument(value, type_, "x")


def test_calls_without_a_printer_return_false_and_say_why():
    with tarvion.Control() as ctrl:
        assert ctrl.AbreCupomFiscal() is False
        assert ctrl.UltimoErro != ""
        assert ctrl.ExisteECF("DARUMA FS600") == 13  # a long result stays an int
        with pytest.raises(TypeError, match="ExisteECF"):
            ctrl.ExisteECF()
        with pytest.raises(TypeError):
            ctrl.AbreCupomFiscal(1)
        # Out of the range the control takes: refused by the library's own parser.
        with pytest.raises(ValueError, match="out of range"):
            ctrl.TaxPercents(40000)
        with pytest.raises(AttributeError):
            ctrl.UltimoErro = "x"
        # A quantity no double holds is a bad value; a line that is not text a bad type.
        with pytest.raises(ValueError, match="nQuantidade"):
            ctrl.RegistraItemFiscal("1", "CAFE", "UN", 18, 10**400, 10.5, 0)
        for line in (None, b"UltimoErro", 5):
            with pytest.raises(TypeError):
                ctrl.call(line)
        assert ctrl.call("UltimoErro")["result"] == ctrl.UltimoErro


def test_raise_errors_turns_a_false_result_into_printer_error():
    with tarvion.Control(raise_errors=True) as ctrl:
        with pytest.raises(tarvion.PrinterError) as info:
            ctrl.AbreCupomFiscal()
        assert info.value.entry == "AbreCupomFiscal"
        assert info.value.message == ctrl.UltimoErro != ""
        # Properties are values, not failures.
        assert ctrl.LowPaper in (True, False)


def test_a_closed_control_refuses_calls():
    ctrl = tarvion.Control()
    ctrl.close()
    ctrl.close()  # twice is harmless
    with pytest.raises(tarvion.TarvionError, match="closed"):
        ctrl.AbreCupomFiscal()


@pytest.mark.parametrize(
    "variable,code",
    [
        ("TARVION_LIBRARY", "import tarvion"),
        ("TARVION_EMULATOR_LIBRARY", "import tarvion; tarvion.Control()"),  # not loaded without printers
        ("TARVION_EMULATOR_LIBRARY", "import tarvion; tarvion.Control(virtual={5: 1})"),
    ],
)
def test_a_missing_library_is_named_when_it_is_needed(variable, code):
    env = dict(os.environ, **{variable: "/nonexistent/libnothing.so"})
    env["PYTHONPATH"] = os.pathsep.join(sys.path)
    r = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)
    if code.endswith("Control()"):
        assert r.returncode == 0, r.stderr
    else:
        assert r.returncode != 0
        assert "LoadError" in r.stderr and variable in r.stderr and "/nonexistent/libnothing.so" in r.stderr
