#include "control/com/automation.h"

#include <cstring>
#include <new>

#include "core/text.h"

namespace tarvion::com {

namespace {

// Out strings start as this; no driver produces it, so finding it unchanged
// after the call means the entry returned before producing a result (no driver)
// and the host's buffer must keep what it had.
const std::string kUntouched(
    "\x01\xFF"
    "tarvion:untouched"
    "\xFF\x01",
    21);

VARTYPE vtOf(Type t) {
  switch (t) {
    case Type::Bool:
      return VT_BOOL;
    case Type::Short:
      return VT_I2;
    case Type::Long:
      return VT_I4;
    case Type::Double:
      return VT_R8;
    case Type::Date:
      return VT_DATE;
    case Type::String:
      return VT_BSTR;
    case Type::Void:
      break;
  }
  return VT_EMPTY;
}

// Follows VT_BYREF|VT_VARIANT links to the variant that holds the value; tells
// whether a link was followed (the host then owns that variant and lets us write it).
VARIANT* followVariantRefs(VARIANT* v, bool& viaReference) {
  viaReference = false;
  for (int depth = 0; depth < 8 && V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v); ++depth) {
    v = V_VARIANTREF(v);
    viaReference = true;
  }
  return v;
}

std::u16string toUtf16(const std::string& s, TextForm form) {
  if (form == TextForm::Bytes) {
    // Raw answer bytes: each byte one character, as the printer sent it.
    std::u16string w;
    w.reserve(s.size());
    for (unsigned char c : s) w.push_back(static_cast<char16_t>(c));
    return w;
  }
  return text::cp1252ToUtf16(s);
}

// Stores a converted value through a typed reference of the host.
bool storeThrough(VARIANT& target, const VARIANT& value) {
  VARTYPE base = static_cast<VARTYPE>(V_VT(&target) & ~VT_BYREF);
  VARIANT conv;
  VariantInit(&conv);
  if (FAILED(VariantChangeType(&conv, const_cast<VARIANT*>(&value), 0, base))) return false;
  void* p = V_BYREF(&target);
  bool stored = p != nullptr;
  if (stored) {
    switch (base) {
      case VT_I1:
        *static_cast<CHAR*>(p) = V_I1(&conv);
        break;
      case VT_UI1:
        *static_cast<BYTE*>(p) = V_UI1(&conv);
        break;
      case VT_I2:
        *static_cast<SHORT*>(p) = V_I2(&conv);
        break;
      case VT_UI2:
        *static_cast<USHORT*>(p) = V_UI2(&conv);
        break;
      case VT_I4:
        *static_cast<LONG*>(p) = V_I4(&conv);
        break;
      case VT_UI4:
        *static_cast<ULONG*>(p) = V_UI4(&conv);
        break;
      case VT_INT:
        *static_cast<INT*>(p) = V_INT(&conv);
        break;
      case VT_UINT:
        *static_cast<UINT*>(p) = V_UINT(&conv);
        break;
      case VT_I8:
        *static_cast<LONGLONG*>(p) = V_I8(&conv);
        break;
      case VT_UI8:
        *static_cast<ULONGLONG*>(p) = V_UI8(&conv);
        break;
      case VT_R4:
        *static_cast<FLOAT*>(p) = V_R4(&conv);
        break;
      case VT_R8:
        *static_cast<DOUBLE*>(p) = V_R8(&conv);
        break;
      case VT_BOOL:
        *static_cast<VARIANT_BOOL*>(p) = V_BOOL(&conv);
        break;
      case VT_DATE:
        *static_cast<DATE*>(p) = V_DATE(&conv);
        break;
      case VT_CY:
        *static_cast<CY*>(p) = V_CY(&conv);
        break;
      case VT_BSTR: {
        BSTR* slot = static_cast<BSTR*>(p);
        SysFreeString(*slot);
        *slot = V_BSTR(&conv);
        V_VT(&conv) = VT_EMPTY;  // ownership moved to the host
        break;
      }
      default:
        stored = false;
        break;
    }
  }
  VariantClear(&conv);
  return stored;
}

void scalarVariant(const ParamInfo& p, const Value& v, VARIANT& out) {
  VariantInit(&out);
  V_VT(&out) = vtOf(p.type);
  switch (p.type) {
    case Type::Bool:
      V_BOOL(&out) = static_cast<VARIANT_BOOL>(v.i);
      break;
    case Type::Short:
      V_I2(&out) = static_cast<SHORT>(v.i);
      break;
    case Type::Long:
      V_I4(&out) = v.i;
      break;
    case Type::Double:
      V_R8(&out) = v.d;
      break;
    case Type::Date:
      V_DATE(&out) = v.d;
      break;
    default:
      V_VT(&out) = VT_EMPTY;
      break;
  }
}

}  // namespace

BSTR toBstr(const std::string& cp1252) {
  std::u16string w = text::cp1252ToUtf16(cp1252);
  BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(w.data()), static_cast<UINT>(w.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

std::string fromBstr(BSTR s) {
  if (!s) return {};
  return text::utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(s), SysStringLen(s)));
}

HRESULT readArgument(const VARIANT& arg, Type t, LCID lcid, Value& out) {
  bool viaRef = false;
  const VARIANT* src = followVariantRefs(const_cast<VARIANT*>(&arg), viaRef);
  if (V_VT(src) == VT_ERROR && V_ERROR(src) == DISP_E_PARAMNOTFOUND) return DISP_E_PARAMNOTOPTIONAL;
  VARIANT conv;
  VariantInit(&conv);
  // VariantChangeTypeEx reads through a VT_BYREF source itself.
  HRESULT hr = VariantChangeTypeEx(&conv, const_cast<VARIANT*>(src), lcid, 0, vtOf(t));
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  out = Value::zero(t);
  switch (t) {
    case Type::Bool:
      out.i = V_BOOL(&conv);
      break;
    case Type::Short:
      out.i = V_I2(&conv);
      break;
    case Type::Long:
      out.i = V_I4(&conv);
      break;
    case Type::Double:
      out.d = V_R8(&conv);
      break;
    case Type::Date:
      out.d = V_DATE(&conv);
      out.valid = true;
      break;
    case Type::String:
      out.s = fromBstr(V_BSTR(&conv));
      break;
    case Type::Void:
      break;
  }
  VariantClear(&conv);
  return S_OK;
}

HRESULT checkOutParameter(const VARIANT& arg, const ParamInfo& p) {
  bool viaRef = false;
  const VARIANT* target = followVariantRefs(const_cast<VARIANT*>(&arg), viaRef);
  if (!(V_VT(target) & VT_BYREF)) return S_OK;  // a value, or the host's own variant
  if (p.type == Type::String) return V_VT(target) == (VT_BYREF | VT_BSTR) ? S_OK : DISP_E_TYPEMISMATCH;
  switch (V_VT(target) & ~VT_BYREF) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_DATE:
    case VT_CY:
    case VT_BSTR:
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

void prepareOutParameter(const VARIANT& arg, const ParamInfo& p, LCID lcid, Value& out) {
  if (p.type == Type::String) {
    out = Value::string(kUntouched);
    return;
  }
  // In/out numbers (EnviaComandoECF's intTamResp) are read; pure outs keep the
  // host's value unless the entry sets them.
  if (FAILED(readArgument(arg, p.type, lcid, out))) out = Value::zero(p.type);
}

size_t copyIntoBstr(BSTR target, const std::u16string& text, bool terminate) {
  if (!target) return 0;
  const size_t capacity = SysStringLen(target);
  const size_t n = text.size() < capacity ? text.size() : capacity;
  if (n) std::memcpy(target, text.data(), n * sizeof(OLECHAR));
  if (terminate && n < capacity) target[n] = 0;
  return n;
}

void writeOutParameter(VARIANT& arg, const ParamInfo& p, const Value& v) {
  bool viaRef = false;
  VARIANT* target = followVariantRefs(&arg, viaRef);
  const bool isRef = (V_VT(target) & VT_BYREF) != 0;
  if (!viaRef && !isRef) return;  // passed by value: the host keeps no result

  if (p.type == Type::String) {
    if (v.s == kUntouched) return;
    BSTR buffer = nullptr;
    if (V_VT(target) == (VT_BYREF | VT_BSTR) && V_BSTRREF(target))
      buffer = *V_BSTRREF(target);
    else if (V_VT(target) == VT_BSTR)
      buffer = V_BSTR(target);
    // Plain text ends with its NUL when it fits; a name list carries its own
    // NULs; raw answer bytes get none.
    copyIntoBstr(buffer, toUtf16(v.s, p.form), p.form == TextForm::Plain);
    return;
  }

  VARIANT value;
  scalarVariant(p, v, value);
  if (isRef) {
    storeThrough(*target, value);
  } else {
    // The host's own variant (reached through VT_BYREF|VT_VARIANT) takes the
    // value with its automation type.
    VariantClear(target);
    *target = value;
  }
}

HRESULT resultToVariant(const Value& v, VARIANT& out) {
  VariantInit(&out);
  switch (v.type) {
    case Type::Void:
      return S_OK;
    case Type::Bool:
      // The entry's own value: -1 where the control answers, the driver's 1 passed on.
      V_VT(&out) = VT_BOOL;
      V_BOOL(&out) = static_cast<VARIANT_BOOL>(v.i);
      return S_OK;
    case Type::Short:
      V_VT(&out) = VT_I2;
      V_I2(&out) = static_cast<SHORT>(v.i);
      return S_OK;
    case Type::Long:
      V_VT(&out) = VT_I4;
      V_I4(&out) = v.i;
      return S_OK;
    case Type::Double:
      V_VT(&out) = VT_R8;
      V_R8(&out) = v.d;
      return S_OK;
    case Type::Date:
      V_VT(&out) = VT_DATE;
      V_DATE(&out) = v.valid ? v.d : 0.0;
      return S_OK;
    case Type::String:
      V_VT(&out) = VT_BSTR;
      V_BSTR(&out) = toBstr(v.s);
      return S_OK;
  }
  return E_UNEXPECTED;
}

}  // namespace tarvion::com
