// The automation boundary: VARIANT arguments in, Values to the control, results
// and out parameters back into what the host passed. Strings cross as UTF-16
// BSTRs outside and Windows-1252 inside.
#pragma once

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <oleauto.h>
// clang-format on

#include <string>

#include "tarvion/entry.hpp"

namespace tarvion::com {

// Reads an [in] argument as a value of type t, coercing it the way automation
// does (VariantChangeTypeEx under the caller's locale, through any VT_BYREF).
// DISP_E_TYPEMISMATCH when it cannot be coerced, DISP_E_PARAMNOTOPTIONAL for a
// missing argument.
HRESULT readArgument(const VARIANT& arg, Type t, LCID lcid, Value& out);

// Prepares the Value of an out parameter from what the host passed: numbers
// and flags start as the host's value, strings as a marker that tells
// writeOutParameter whether the entry produced anything.
void prepareOutParameter(const VARIANT& arg, const ParamInfo& p, LCID lcid, Value& out);

// Checks that an out argument can take the result (a reference, or a value
// the result is simply dropped for); DISP_E_TYPEMISMATCH otherwise.
HRESULT checkOutParameter(const VARIANT& arg, const ParamInfo& p);

// Writes an out parameter back into the host's reference. Strings are copied
// into the host's existing BSTR buffer in place, never past its length; values
// passed by value (not by reference) are left alone.
void writeOutParameter(VARIANT& arg, const ParamInfo& p, const Value& v);

// Copies text into an existing BSTR's buffer from its first character: at most
// SysStringLen(target) characters, plus a terminating NUL when terminate is set
// and there is room for it inside the length. The BSTR is neither freed nor
// reallocated. Returns the number of characters copied (without the NUL).
size_t copyIntoBstr(BSTR target, const std::u16string& text, bool terminate);

// The result of an entry as a VARIANT (VT_BOOL, VT_I2, VT_I4, VT_R8, VT_DATE, VT_BSTR).
HRESULT resultToVariant(const Value& v, VARIANT& out);

// Windows-1252 <-> BSTR.
BSTR toBstr(const std::string& cp1252);
std::string fromBstr(BSTR s);

}  // namespace tarvion::com
