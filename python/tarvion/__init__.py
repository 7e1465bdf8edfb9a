"""Tarvion from Python: the fiscal-printer control over libtarvion's C interface.

Every entry of the control is a method or a property of :class:`Control`, named
as in the control's table and generated from the library's own entry listing::

    import tarvion
    with tarvion.Control(virtual={5: 1}) as ctrl:
        ok = ctrl.InitializeECF(1, 5, 115200, 0, 8, 1, 0, True, True)
        ok, text = ctrl.LeituraXSerial()      # out parameters follow the result
        print(ctrl.UltimoErro, ctrl.FiscalDate)

The library is the one named by TARVION_LIBRARY, else the installed
libtarvion.so.1; virtual printers come from TARVION_EMULATOR_LIBRARY, else the
installed libtarvion-emulator.so.1 (loaded only when asked for).
"""
from ._control import OUTCOMES, Control, Entry, Param, PrinterError, TarvionError, entries
from ._native import LoadError

__all__ = ["Control", "OUTCOMES", "PrinterError", "TarvionError", "LoadError", "Entry", "Param", "entries"]
__version__ = "1.0.0"
