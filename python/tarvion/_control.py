"""The Control class, its entries generated from the library's entry listing."""
import ctypes
import datetime
import inspect
import json
import math
import threading
from collections import namedtuple

from ._native import Library

# The C header's numbers (tarvion.h).
METHOD, GET, GETSET = 0, 1, 2
VOID, BOOL, SHORT, LONG, DOUBLE, DATE, STRING = range(7)
IN, OUT, INOUT = 0, 1, 2
PLAIN, LIST, BYTES = 0, 1, 2
_KINDS = {METHOD: "method", GET: "get", GETSET: "getset"}
# What became of the printer command behind a call's result (TARVION_OUTCOME_*).
OUTCOMES = ("done", "not_written", "refused", "may_have_run")
_TYPES = {VOID: "void", BOOL: "BOOL", SHORT: "short", LONG: "long", DOUBLE: "double", DATE: "date", STRING: "string"}

Param = namedtuple("Param", "name type dir form")
Entry = namedtuple("Entry", "name kind result params")

_lib = Library()


class TarvionError(Exception):
    """A call the library could not run: a bad argument, a virtual printer that cannot be attached."""


class PrinterError(TarvionError):
    """A call that returned FALSE on a Control(raise_errors=True); message is UltimoErro.

    outcome says whether the command may have run in the printer: "not_written"
    and "refused" are safe to try again, "may_have_run" is not."""

    def __init__(self, entry, message, outcome="not_written"):
        super().__init__("%s: %s" % (entry, message))
        self.entry = entry
        self.message = message
        self.outcome = outcome


def _read_entries():
    table = []
    kind, result, ptype, pdir, pform = (ctypes.c_int() for _ in range(5))
    for i in range(_lib.entry_count()):
        count = _lib.entry_info(i, ctypes.byref(kind), ctypes.byref(result))
        params = []
        for p in range(count):
            name = _lib.entry_param(i, p, ctypes.byref(ptype), ctypes.byref(pdir), ctypes.byref(pform))
            params.append(Param(name.decode(), ptype.value, pdir.value, pform.value))
        table.append(Entry(_lib.entry_name(i).decode(), kind.value, result.value, tuple(params)))
    return tuple(table)


_ENTRIES = _read_entries()


def entries():
    """The control's entries, in dispatch order, as the library describes them."""
    return _ENTRIES


# ---------------------------------------------------------------- arguments


def _quote(text):
    # The line language's quoted string: \" \\ \n \r \t and \xHH for the other
    # control characters; everything else is written as UTF-8.
    out = ['"']
    for ch in text:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\t":
            out.append("\\t")
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append("\\x%02x" % ord(ch))
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def _argument(value, type_, name):
    if type_ == STRING:
        if isinstance(value, (bytes, bytearray)):
            value = bytes(value).decode("latin-1")
        if not isinstance(value, str):
            raise TypeError("%s: expected a string, got %s" % (name, type(value).__name__))
        return _quote(value)
    if type_ == BOOL:
        if isinstance(value, bool):
            return "TRUE" if value else "FALSE"
        return str(_integer(value, name))
    if type_ in (SHORT, LONG):
        return str(_integer(value, name))
    if type_ == DOUBLE:
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise TypeError("%s: expected a number, got %s" % (name, type(value).__name__))
        try:
            v = float(value)
        except OverflowError:
            # An integer beyond every double (10**400): a bad value, not a bad type.
            raise ValueError("%s: %r is not a finite number" % (name, value)) from None
        if not math.isfinite(v):
            raise ValueError("%s: %r is not a finite number" % (name, value))
        return repr(v)
    if type_ == DATE:
        if isinstance(value, datetime.datetime):
            return value.strftime("%Y-%m-%dT%H:%M:%S")
        if isinstance(value, datetime.date):
            return value.strftime("%Y-%m-%d")
        raise TypeError("%s: expected a datetime or a date, got %s" % (name, type(value).__name__))
    raise TypeError("%s: no value can be given here" % name)


def _integer(value, name):
    if isinstance(value, float) or not hasattr(value, "__index__"):
        raise TypeError("%s: expected an integer, got %s" % (name, type(value).__name__))
    return value.__index__()


def _convert(value, type_, form=PLAIN):
    if type_ == BOOL:
        return value != 0
    if type_ == DOUBLE:
        return math.nan if value is None else float(value)
    if type_ == DATE:
        return None if value is None else datetime.datetime.strptime(value, "%Y-%m-%dT%H:%M:%S")
    if type_ == STRING and form == BYTES:
        # One character per byte on the wire.
        return value.encode("latin-1", "replace")
    return value  # short, long, strings and name lists (a list of str)


# ---------------------------------------------------------------- the control


class Control:
    """One control (one tarvion_control handle).

    Control(raise_errors=False, virtual=None)

    raise_errors: a method that returns FALSE raises PrinterError with UltimoErro
      instead of returning False.
    virtual: {port: model} puts a virtual printer of each fiscal model (number
      or name) on each port number for as long as the control is open; a value
      may also be (model, state_path, paper_path) to keep the printer's fiscal
      state and paper in files.

    last_outcome: what became of the printer command behind the last method's
      result (property reads leave it as it is), one of OUTCOMES: "done"; for a failed call "not_written" (nothing
      reached the printer), "refused" (the printer refused it) or
      "may_have_run" (written, then the line failed: do not simply retry).

    Thread safety: as the C interface states, a handle serves one caller at a
    time. A Control takes a lock around each call, so threads may share one
    (their calls run one after another); separate Controls run in parallel.
    Do not share a port between Controls.
    """

    def __init__(self, raise_errors=False, virtual=None):
        self.raise_errors = raise_errors
        self._lock = threading.RLock()
        self._virtual = []
        self.last_outcome = "done"
        self._handle = _lib.create()
        if not self._handle:
            raise MemoryError("tarvion_create failed")
        try:
            for port, printer in (virtual or {}).items():
                self._attach(port, printer)
        except BaseException:
            self.close()
            raise

    def _attach(self, port, printer):
        # A model (number or name), or (model, state_path, paper_path).
        if isinstance(printer, (tuple, list)):
            model, state, paper = (tuple(printer) + (None, None))[:3]
        else:
            model, state, paper = printer, None, None
        emu = _lib.emulator()
        if isinstance(model, str):
            number = emu.model(model.encode())
            if number == 0:
                raise TarvionError("no virtual printer for the model %r" % model)
            model = number
        error = ctypes.create_string_buffer(2048)
        enc = lambda p: None if p is None else str(p).encode()  # noqa: E731
        if emu.attach(_integer(port, "port"), _integer(model, "model"), enc(state), enc(paper), error, len(error)):
            raise TarvionError(error.value.decode("utf-8", "replace"))
        self._virtual.append(port)

    def close(self):
        """Closes the control's ports and frees it, then takes its virtual printers off."""
        with self._lock:
            if self._handle:
                _lib.destroy(self._handle)
                self._handle = None
            while self._virtual:
                _lib.emulator().detach(self._virtual.pop())

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    def paper(self, port):
        """What the virtual printer on the port has printed so far."""
        emu = _lib.emulator()
        n = emu.paper(port, None, 0)
        buf = ctypes.create_string_buffer(n + 1)
        emu.paper(port, buf, len(buf))
        return buf.value.decode("utf-8", "replace")

    def call(self, line):
        """Runs one line of the shell's language and returns its JSON answer as a dict."""
        with self._lock:
            return self._call(line)

    def _call(self, line):
        if not isinstance(line, str):
            raise TypeError("expected a line of text, got %s" % type(line).__name__)
        if not self._handle:
            raise TarvionError("the control is closed")
        data = line.encode("utf-8")
        buf = ctypes.create_string_buffer(4096)
        n = _lib.call(self._handle, data, 1, buf, len(buf))
        if n >= len(buf):
            buf = ctypes.create_string_buffer(n + 1)
            _lib.last_output(self._handle, buf, len(buf))
        answer = json.loads(buf.raw[:n].decode("utf-8"))
        code = _lib.last_outcome(self._handle)
        self.last_outcome = OUTCOMES[code] if 0 <= code < len(OUTCOMES) else "may_have_run"
        if "error" in answer:
            raise ValueError("%s: %s" % (answer.get("entry") or line, answer["error"]))
        return answer

    def _invoke(self, entry, args):
        line = " ".join([entry.name] + args)
        with self._lock:
            answer = self._call(line)
            result = _convert(answer["result"], entry.result)
            if self.raise_errors and entry.kind == METHOD and entry.result == BOOL and not result:
                message = self._call("UltimoErro")["result"]
                raise PrinterError(entry.name, message, self.last_outcome)
        outs = [_convert(answer["out"][p.name], p.type, p.form) for p in entry.params if p.dir != IN]
        return tuple([result] + outs) if outs else result

    def __repr__(self):
        return "<tarvion.Control %s>" % ("open" if self._handle else "closed")


def _signature(entry):
    params = [inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    params += [inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD) for p in entry.params if p.dir != OUT]
    return inspect.Signature(params)


def _doc(entry):
    ins = ", ".join("%s: %s" % (p.name, _TYPES[p.type]) for p in entry.params if p.dir != OUT)
    outs = ", ".join("%s: %s" % (p.name, _TYPES[p.type]) for p in entry.params if p.dir != IN)
    doc = "%s %s(%s) -> %s" % (_KINDS[entry.kind], entry.name, ins, _TYPES[entry.result])
    return doc + (" (then the out parameters %s)" % outs if outs else "")


def _make_method(entry):
    signature = _signature(entry)
    ins = [p for p in entry.params if p.dir != OUT]

    def method(self, *args, **kwargs):
        try:
            bound = signature.bind(self, *args, **kwargs)
        except TypeError as e:
            raise TypeError("%s: %s" % (entry.name, e)) from None
        values = [_argument(bound.arguments[p.name], p.type, p.name) for p in ins]
        return self._invoke(entry, values)

    method.__name__ = method.__qualname__ = entry.name
    method.__signature__ = signature
    method.__doc__ = _doc(entry)
    return method


def _make_property(entry):
    def get(self):
        return self._invoke(entry, [])

    setter = None
    if entry.kind == GETSET:

        def setter(self, value):
            with self._lock:
                self._call("%s = %s" % (entry.name, _argument(value, entry.result, entry.name)))

    return property(get, setter, doc=_doc(entry))


for _entry in _ENTRIES:
    # Properties without an index read like attributes; indexed ones are called.
    if _entry.kind != METHOD and not _entry.params:
        setattr(Control, _entry.name, _make_property(_entry))
    else:
        setattr(Control, _entry.name, _make_method(_entry))
del _entry
