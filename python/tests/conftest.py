"""The package under test is the one in this folder (or the installed one when
TARVION_TEST_INSTALLED is set); the libraries come from TARVION_LIBRARY and
TARVION_EMULATOR_LIBRARY, the tool for `tarvion emulate` from TARVION_TOOL."""
import os
import sys

if not os.environ.get("TARVION_TEST_INSTALLED"):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
