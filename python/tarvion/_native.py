"""Loading libtarvion (and, when virtual printers are asked for, libtarvion-emulator)."""
import ctypes
import os
import sys
import threading

if sys.platform == "win32":
    _LIBRARY, _EMULATOR = "tarvion.dll", "tarvion-emulator.dll"
elif sys.platform == "darwin":
    _LIBRARY, _EMULATOR = "libtarvion.1.dylib", "libtarvion-emulator.1.dylib"
else:
    _LIBRARY, _EMULATOR = "libtarvion.so.1", "libtarvion-emulator.so.1"


class LoadError(ImportError):
    """A library of Tarvion's that cannot be loaded."""


def _open(variable, default):
    name = os.environ.get(variable) or default
    try:
        return ctypes.CDLL(name)
    except OSError as e:
        raise LoadError(
            "tarvion: cannot load %s (%s). Install Tarvion, or name the library in the environment "
            "variable %s." % (name, e, variable)
        ) from None


def _declare(lib, name, restype, *argtypes):
    f = getattr(lib, name)
    f.restype = restype
    f.argtypes = list(argtypes)
    return f


class Library:
    """The C interface of one loaded libtarvion."""

    def __init__(self):
        lib = _open("TARVION_LIBRARY", _LIBRARY)
        c, i, s, p, ip = ctypes.c_char_p, ctypes.c_int, ctypes.c_size_t, ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)
        self.create = _declare(lib, "tarvion_create", p)
        self.destroy = _declare(lib, "tarvion_destroy", None, p)
        self.call = _declare(lib, "tarvion_call", s, p, c, i, c, s)
        self.last_output = _declare(lib, "tarvion_last_output", s, p, c, s)
        self.last_status = _declare(lib, "tarvion_last_status", i, p)
        self.last_outcome = _declare(lib, "tarvion_last_outcome", i, p)
        self.entry_count = _declare(lib, "tarvion_entry_count", i)
        self.entry_name = _declare(lib, "tarvion_entry_name", c, i)
        self.entry_info = _declare(lib, "tarvion_entry_info", i, i, ip, ip)
        self.entry_param = _declare(lib, "tarvion_entry_param", c, i, i, ip, ip, ip)
        self.path = lib._name
        self._emulator = None
        self._emulator_lock = threading.Lock()

    def emulator(self):
        """libtarvion-emulator, loaded on first use. It links the libtarvion
        loaded above (the loader shares one copy by its SONAME), so its printers
        sit behind this library's ports."""
        with self._emulator_lock:
            if self._emulator is None:
                lib = _open("TARVION_EMULATOR_LIBRARY", _EMULATOR)
                c, i, s = ctypes.c_char_p, ctypes.c_int, ctypes.c_size_t
                lib.attach = _declare(lib, "tarvion_emulator_attach", i, i, i, c, c, c, s)
                lib.detach = _declare(lib, "tarvion_emulator_detach", i, i)
                lib.paper = _declare(lib, "tarvion_emulator_paper", s, i, c, s)
                lib.model = _declare(lib, "tarvion_emulator_model", i, c)
                self._emulator = lib
            return self._emulator
