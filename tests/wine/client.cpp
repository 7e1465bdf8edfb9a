// An automation host in miniature, run under wine against tarvion.dll. It
// reaches the control the way hosts do, by program identifier and IDispatch
// only, and checks the automation boundary: names, dispatch identifiers, type
// coercion, results, out parameters written into the host's own buffers (never
// past their length), read-only properties, the type library and the module's
// entry points.
//
//   client dispatch DUMPFILE       the control without a printer; writes the
//                                  dispatch interface as the type library tells it
//   client printer PORT            the control with the virtual printer on COM<PORT>
//   client entrypoints DLL         DllGetClassObject, DllCanUnloadNow, unregistration
//                                  of a module that is not registered
//   client typelib DLL win32|win64 DUMPFILE
//                                  the type library embedded in DLL (either architecture)
//   client silent PORT             the control on COM<PORT>, where nothing answers
//   client container               the control embedded the way a form designer
//                                  embeds it (container.cpp)
//
// Prints one line per failed check and "N passed, N failed"; exits 1 on any failure.

#include "checks.h"

namespace {

using namespace winetest;

VARIANT vBstr(const wchar_t* s) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(s);
  return v;
}
VARIANT vI2(short x) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I2;
  V_I2(&v) = x;
  return v;
}
VARIANT vI4(long x) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = x;
  return v;
}
VARIANT vR8(double x) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = x;
  return v;
}
VARIANT vBool(bool x) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = x ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT vRef(VARTYPE vt, void* p) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = static_cast<VARTYPE>(VT_BYREF | vt);
  V_BYREF(&v) = p;
  return v;
}

class Dispatch {
 public:
  explicit Dispatch(IDispatch* d) : d_(d) {}
  ~Dispatch() {
    if (d_) d_->Release();
  }
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;
  IDispatch* get() const { return d_; }

  DISPID id(const wchar_t* name) {
    LPOLESTR n = const_cast<LPOLESTR>(name);
    DISPID id = DISPID_UNKNOWN;
    d_->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
    return id;
  }

  // Arguments in parameter order (rgvarg takes them last-first). Arguments are
  // cleared afterwards unless keep is set (references stay the caller's).
  HRESULT call(const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result, UINT* argErr = nullptr) {
    DISPID member = id(name);
    std::vector<VARIANT> rev(args.rbegin(), args.rend());
    DISPPARAMS dp = {rev.empty() ? nullptr : rev.data(), nullptr, static_cast<UINT>(rev.size()), 0};
    DISPID putId = DISPID_PROPERTYPUT;
    if (flags & DISPATCH_PROPERTYPUT) {
      dp.rgdispidNamedArgs = &putId;
      dp.cNamedArgs = 1;
    }
    if (result) VariantInit(result);
    UINT err = ~0u;
    HRESULT hr = d_->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, nullptr, &err);
    if (argErr) *argErr = err;
    for (VARIANT& v : rev)
      if (!(V_VT(&v) & VT_BYREF)) VariantClear(&v);
    return hr;
  }
  HRESULT method(const wchar_t* name, std::vector<VARIANT> args, VARIANT* result) {
    return call(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args), result);
  }
  HRESULT get(const wchar_t* name, VARIANT* result, std::vector<VARIANT> args = {}) {
    return call(name, DISPATCH_PROPERTYGET, std::move(args), result);
  }
  HRESULT put(const wchar_t* name, VARIANT value) { return call(name, DISPATCH_PROPERTYPUT, {value}, nullptr); }

 private:
  IDispatch* d_;
};

// A BSTR laid out by hand inside a larger heap block: the length prefix, n
// characters of 'x', the terminating NUL, then a guard pattern. Anything
// written past the string's length lands in the guard.
class GuardedBstr {
 public:
  static constexpr size_t kGuard = 256;
  explicit GuardedBstr(size_t n) : n_(n) {
    size_ = 16 + sizeof(DWORD) + (n + 1) * sizeof(OLECHAR) + kGuard;
    block_ = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, size_));
    std::memset(block_, 0xA5, size_);
    // 16 bytes in, so the characters are aligned as SysAllocString's are.
    *reinterpret_cast<DWORD*>(block_ + 12) = static_cast<DWORD>(n * sizeof(OLECHAR));
    bstr_ = reinterpret_cast<BSTR>(block_ + 16);
    for (size_t i = 0; i < n; ++i) bstr_[i] = L'x';
    bstr_[n] = 0;
  }
  ~GuardedBstr() { HeapFree(GetProcessHeap(), 0, block_); }
  GuardedBstr(const GuardedBstr&) = delete;
  GuardedBstr& operator=(const GuardedBstr&) = delete;

  BSTR* ref() { return &bstr_; }
  BSTR bstr() const { return bstr_; }
  bool intact() const {
    if (*reinterpret_cast<const DWORD*>(block_ + 12) != n_ * sizeof(OLECHAR)) return false;
    if (bstr_[n_] != 0) return false;
    for (size_t i = 0; i < 12; ++i)
      if (block_[i] != 0xA5) return false;
    const unsigned char* guard = reinterpret_cast<const unsigned char*>(bstr_ + n_ + 1);
    for (size_t i = 0; guard + i < block_ + size_; ++i)
      if (guard[i] != 0xA5) return false;
    return true;
  }
  bool sameBstr() const { return bstr_ == reinterpret_cast<BSTR>(block_ + 16); }
  std::wstring text() const { return std::wstring(bstr_, n_); }

 private:
  size_t n_;
  size_t size_;
  unsigned char* block_;
  BSTR bstr_;
};

// Splits a double-NUL name list; tells how many NULs followed the last name.
std::vector<std::wstring> splitList(const wchar_t* p, size_t n, size_t& endAt) {
  std::vector<std::wstring> names;
  size_t i = 0;
  while (i < n && p[i]) {
    size_t start = i;
    while (i < n && p[i]) ++i;
    names.emplace_back(p + start, i - start);
    ++i;  // the name's NUL
  }
  endAt = i;
  return names;
}

// ------------------------------------------------------------------ type library

const char* vtName(VARTYPE vt) {
  switch (vt) {
    case VT_BOOL:
      return "BOOL";
    case VT_I2:
      return "I2";
    case VT_I4:
      return "I4";
    case VT_R8:
      return "R8";
    case VT_DATE:
      return "DATE";
    case VT_BSTR:
      return "BSTR";
    case VT_VOID:
      return "VOID";
    case VT_HRESULT:
      return "HRESULT";
    case VT_VARIANT:
      return "VARIANT";
    default:
      return "?";
  }
}

std::string typeText(const TYPEDESC& t) {
  if (t.vt == VT_PTR && t.lptdesc) return typeText(*t.lptdesc) + "*";
  return vtName(t.vt);
}

// One line per function of the dispatch interface:
//   dispid name method|get|put result name:TYPE:dir...   (put lines list types only)
std::string describeDispatch(ITypeInfo* info) {
  std::string out;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return out;
  WORD funcs = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  for (WORD i = 0; i < funcs; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(i, &f))) continue;
    BSTR names[64] = {};
    UINT got = 0;
    info->GetNames(f->memid, names, 64, &got);
    const char* kind = f->invkind == INVOKE_FUNC ? "method" : f->invkind == INVOKE_PROPERTYGET ? "get" : "put";
    char head[256];
    std::snprintf(head, sizeof head, "%ld %s %s %s", static_cast<long>(f->memid),
                  got ? narrow(names[0], SysStringLen(names[0])).c_str() : "?", kind,
                  typeText(f->elemdescFunc.tdesc).c_str());
    std::string line = head;
    for (SHORT k = 0; k < f->cParams; ++k) {
      const ELEMDESC& e = f->lprgelemdescParam[k];
      USHORT fl = e.paramdesc.wParamFlags;
      const char* dir = (fl & PARAMFLAG_FIN) && (fl & PARAMFLAG_FOUT) ? "inout"
                        : (fl & PARAMFLAG_FOUT)                       ? "out"
                        : (fl & PARAMFLAG_FIN)                        ? "in"
                                                                      : "none";
      line += " ";
      if (f->invkind != INVOKE_PROPERTYPUT)
        line += (static_cast<UINT>(k + 1) < got ? narrow(names[k + 1], SysStringLen(names[k + 1])) : "?") + ":";
      line += typeText(e.tdesc) + ":" + dir;
    }
    for (UINT k = 0; k < got; ++k) SysFreeString(names[k]);
    info->ReleaseFuncDesc(f);
    out += line + "\n";
  }
  return out;
}

void writeDump(const wchar_t* path, ITypeInfo* info) {
  FILE* f = _wfopen(path, L"wb");
  check(f != nullptr, "dump file");
  if (!f) return;
  std::fputs(describeDispatch(info).c_str(), f);
  std::fclose(f);
}

void checkTypeKind(ITypeInfo* info, REFGUID guid, TYPEKIND kind, const char* what) {
  TYPEATTR* attr = nullptr;
  HRESULT hr = info->GetTypeAttr(&attr);
  check(SUCCEEDED(hr), what, "GetTypeAttr");
  if (FAILED(hr)) return;
  check(attr->guid == guid, what, "guid");
  check(attr->typekind == kind, what, "type kind");
  info->ReleaseTypeAttr(attr);
}

int runTypelib(const wchar_t* path, const wchar_t* arch, const wchar_t* dumpPath) {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &lib);
  checkHr(hr, S_OK, "LoadTypeLibEx of the DLL");
  if (FAILED(hr)) {
    std::printf("%d passed, %d failed\n", passed, failed);
    return 1;
  }
  TLIBATTR* la = nullptr;
  if (SUCCEEDED(lib->GetLibAttr(&la))) {
    check(la->guid == kLibId, "library", "LIBID");
    check(la->wMajorVerNum == 1 && la->wMinorVerNum == 0, "library", "version 1.0");
    SYSKIND want = std::wcscmp(arch, L"win64") == 0 ? SYS_WIN64 : SYS_WIN32;
    check(la->syskind == want, "library", "platform of the type library");
    lib->ReleaseTLibAttr(la);
  }
  BSTR name = nullptr;
  lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  check(name && std::wcscmp(name, L"TarvionLib") == 0, "library", "name TarvionLib");
  SysFreeString(name);

  ITypeInfo* disp = nullptr;
  checkHr(lib->GetTypeInfoOfGuid(kDispatchIid, &disp), S_OK, "_DTarvion in the library");
  if (disp) {
    checkTypeKind(disp, kDispatchIid, TKIND_DISPATCH, "_DTarvion");
    writeDump(dumpPath, disp);
    disp->Release();
  }
  ITypeInfo* events = nullptr;
  checkHr(lib->GetTypeInfoOfGuid(kEventsIid, &events), S_OK, "_DTarvionEvents in the library");
  if (events) {
    checkTypeKind(events, kEventsIid, TKIND_DISPATCH, "_DTarvionEvents");
    TYPEATTR* a = nullptr;
    if (SUCCEEDED(events->GetTypeAttr(&a))) {
      check(a->cFuncs == 0 && a->cVars == 0, "_DTarvionEvents", "declares no events");
      events->ReleaseTypeAttr(a);
    }
    events->Release();
  }
  ITypeInfo* cls = nullptr;
  checkHr(lib->GetTypeInfoOfGuid(kControlClsid, &cls), S_OK, "coclass in the library");
  if (cls) {
    checkTypeKind(cls, kControlClsid, TKIND_COCLASS, "coclass");
    TYPEATTR* a = nullptr;
    if (SUCCEEDED(cls->GetTypeAttr(&a))) {
      check(a->cImplTypes == 2, "coclass", "two interfaces");
      cls->ReleaseTypeAttr(a);
    }
    for (UINT k = 0; k < 2; ++k) {
      HREFTYPE ref;
      INT flags = 0;
      ITypeInfo* impl = nullptr;
      if (FAILED(cls->GetRefTypeOfImplType(k, &ref)) || FAILED(cls->GetRefTypeInfo(ref, &impl))) {
        check(false, "coclass", "interface reference");
        continue;
      }
      cls->GetImplTypeFlags(k, &flags);
      TYPEATTR* ia = nullptr;
      if (SUCCEEDED(impl->GetTypeAttr(&ia))) {
        if (flags & IMPLTYPEFLAG_FSOURCE)
          check(ia->guid == kEventsIid && (flags & IMPLTYPEFLAG_FDEFAULT), "coclass", "default source is the events");
        else
          check(ia->guid == kDispatchIid && (flags & IMPLTYPEFLAG_FDEFAULT), "coclass", "default is _DTarvion");
        impl->ReleaseTypeAttr(ia);
      }
      impl->Release();
    }
    cls->Release();
  }
  lib->Release();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

// ------------------------------------------------------------------ entry points

int runEntryPoints(const wchar_t* path) {
  HMODULE dll = LoadLibraryW(path);
  check(dll != nullptr, "LoadLibrary");
  if (!dll) {
    std::printf("%d passed, %d failed\n", passed, failed);
    return 1;
  }
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  using NoArgs = HRESULT(WINAPI*)();
  auto getClassObject =
      reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  auto canUnload = reinterpret_cast<NoArgs>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
  auto unregister = reinterpret_cast<NoArgs>(reinterpret_cast<void*>(GetProcAddress(dll, "DllUnregisterServer")));
  check(getClassObject && canUnload && unregister, "exports by undecorated name");
  if (getClassObject && canUnload && unregister) {
    // Nothing is registered yet: the type library cannot be unregistered.
    checkHr(unregister(), SELFREG_E_TYPELIB, "DllUnregisterServer of an unregistered module");
    IClassFactory* f = nullptr;
    checkHr(getClassObject(kLibId, IID_IClassFactory, reinterpret_cast<void**>(&f)), CLASS_E_CLASSNOTAVAILABLE,
            "DllGetClassObject of a foreign class");
    checkHr(canUnload(), S_OK, "DllCanUnloadNow before any object");
    checkHr(getClassObject(kControlClsid, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK,
            "DllGetClassObject of the control");
    if (f) {
      IDispatch* d = nullptr;
      checkHr(f->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK, "CreateInstance");
      IUnknown* outer = reinterpret_cast<IUnknown*>(d);
      IUnknown* agg = nullptr;
      checkHr(f->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&agg)), CLASS_E_NOAGGREGATION,
              "aggregation refused");
      f->Release();
      checkHr(canUnload(), S_FALSE, "DllCanUnloadNow with a live object");
      if (d) d->Release();
      checkHr(canUnload(), S_OK, "DllCanUnloadNow after the last release");
    }
    checkHr(getClassObject(kPropPageClsid, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK,
            "DllGetClassObject of the property page");
    if (f) {
      f->LockServer(TRUE);
      f->Release();
      checkHr(canUnload(), S_FALSE, "DllCanUnloadNow while locked");
      getClassObject(kPropPageClsid, IID_IClassFactory, reinterpret_cast<void**>(&f));
      f->LockServer(FALSE);
      f->Release();
      checkHr(canUnload(), S_OK, "DllCanUnloadNow after unlocking");
    }
  }
  FreeLibrary(dll);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

// ------------------------------------------------------------------ the control

IDispatch* createControl() {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(L"Tarvion.TarvionCtrl.1", &clsid);
  checkHr(hr, S_OK, "CLSIDFromProgID(Tarvion.TarvionCtrl.1)");
  if (FAILED(hr)) return nullptr;
  check(clsid == kControlClsid, "program identifier names the control's class");
  IDispatch* d = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d));
  checkHr(hr, S_OK, "CoCreateInstance(IDispatch)");
  return SUCCEEDED(hr) ? d : nullptr;
}

std::wstring bstrOf(const VARIANT& v) {
  return V_VT(&v) == VT_BSTR && V_BSTR(&v) ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : L"<not a string>";
}

void testNames(Dispatch& c) {
  check(c.id(L"ExisteECF") == 15, "GetIDsOfNames ExisteECF");
  check(c.id(L"existeecf") == 15, "GetIDsOfNames ignores case");
  check(c.id(L"UltimoErro") == 42, "GetIDsOfNames UltimoErro");
  check(c.id(L"AlterarHVAgendado") == 174, "GetIDsOfNames AlterarHVAgendado");
  LPOLESTR names[2] = {const_cast<LPOLESTR>(L"NaoExiste"), const_cast<LPOLESTR>(L"x")};
  DISPID ids[2] = {0, 0};
  checkHr(c.get()->GetIDsOfNames(IID_NULL, names, 1, 0, ids), DISP_E_UNKNOWNNAME, "unknown name");
  check(ids[0] == DISPID_UNKNOWN, "unknown name gives DISPID_UNKNOWN");
  names[0] = const_cast<LPOLESTR>(L"ExisteECF");
  names[1] = const_cast<LPOLESTR>(L"STRNOMEECF");
  checkHr(c.get()->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK, "parameter name");
  check(ids[0] == 15 && ids[1] == 0, "parameter identifier is its position");
}

void testDispatchErrors(Dispatch& c) {
  VARIANT r;
  UINT argErr = 0;
  checkHr(c.method(L"ExisteECF", {}, &r), DISP_E_PARAMNOTOPTIONAL, "missing argument");
  checkHr(c.method(L"ExisteECF", {vBstr(L"a"), vBstr(L"b")}, &r), DISP_E_BADPARAMCOUNT, "extra argument");
  checkHr(c.call(L"TaxPercents", DISPATCH_PROPERTYGET, {vBstr(L"abc")}, &r, &argErr), DISP_E_TYPEMISMATCH,
          "argument that cannot be coerced");
  check(argErr == 0, "the failing argument is reported");
  // Second of nine arguments: rgvarg index 7.
  checkHr(c.call(L"InitializeECF", DISPATCH_METHOD,
                 {vI4(1), vBstr(L"porta"), vI4(9600), vI4(0), vI4(8), vI4(1), vI4(0), vBool(false), vBool(false)}, &r,
                 &argErr),
          DISP_E_TYPEMISMATCH, "InitializeECF with a port that is not a number");
  check(argErr == 7, "argument error index counts from the end");
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  checkHr(c.get()->Invoke(61, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr), DISP_E_MEMBERNOTFOUND,
          "dispatch identifier 61 is not assigned");
  checkHr(c.get()->Invoke(2, IID_IDispatch, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr), DISP_E_UNKNOWNINTERFACE,
          "Invoke with a non-null riid");
  VARIANT pos = vBstr(L"ELGIN X5");
  DISPID named = 0;
  DISPPARAMS dp = {&pos, &named, 1, 1};
  checkHr(c.get()->Invoke(15, IID_NULL, 0, DISPATCH_METHOD, &dp, &r, nullptr, nullptr), S_OK, "named argument");
  check(V_VT(&r) == VT_I4 && V_I4(&r) == 23, "ExisteECF(strNomeECF:=\"ELGIN X5\") is 23");
  VariantClear(&pos);
}

void testExisteECF(Dispatch& c) {
  VARIANT r;
  checkHr(c.method(L"ExisteECF", {vBstr(L"daruma fs600 ")}, &r), S_OK, "ExisteECF");
  check(V_VT(&r) == VT_I4 && V_I4(&r) == 13, "ExisteECF(\"daruma fs600 \") is 13 as a long");
  checkHr(c.method(L"ExisteECF", {vBstr(L"DARUMA")}, &r), S_OK, "ExisteECF");
  check(V_VT(&r) == VT_I4 && V_I4(&r) == 0, "ExisteECF(\"DARUMA\") is 0");
  // As VBScript passes a variable: a reference to a variant holding the string.
  VARIANT var = vBstr(L"BEMATECH MP-4000 TH FI");
  checkHr(c.method(L"ExisteECF", {vRef(VT_VARIANT, &var)}, &r), S_OK, "ExisteECF by reference");
  check(V_VT(&r) == VT_I4 && V_I4(&r) == 7, "ExisteECF through VT_BYREF|VT_VARIANT is 7");
  check(V_VT(&var) == VT_BSTR && std::wcscmp(V_BSTR(&var), L"BEMATECH MP-4000 TH FI") == 0,
        "an [in] argument passed by reference is left alone");
  VariantClear(&var);
  // Windows-1252 letters survive the way in: no model has them, so no match, and no failure.
  checkHr(c.method(L"ExisteECF", {vBstr(L"IMPRESS\u00c3O \u20ac")}, &r), S_OK, "ExisteECF with accents");
  check(V_VT(&r) == VT_I4 && V_I4(&r) == 0, "ExisteECF with accents is 0");
  checkHr(c.method(L"CheckPrinterID", {vBstr(L"PERTOCHECK")}, &r), S_OK, "CheckPrinterID");
  check(V_VT(&r) == VT_I4 && V_I4(&r) == 10, "CheckPrinterID(PERTOCHECK) is 10");
}

void testUltimoErro(Dispatch& c) {
  VARIANT r;
  const std::wstring want = std::wstring(L"\r\n") + kNotInitialised;
  checkHr(c.get(L"UltimoErro", &r), S_OK, "UltimoErro");
  check(bstrOf(r) == want, "UltimoErro before initialisation", narrow(bstrOf(r)).c_str());
  VariantClear(&r);
  checkHr(c.get(L"UltimoErro", &r), S_OK, "UltimoErro again");
  check(bstrOf(r) == want, "the sentence is appended once");
  VariantClear(&r);

  // Read-only properties and methods refuse a put with the standard error.
  checkHr(c.put(L"UltimoErro", vBstr(L"nada")), DISP_E_MEMBERNOTFOUND, "UltimoErro cannot be set");
  checkHr(c.put(L"CommHandle", vI4(5)), DISP_E_MEMBERNOTFOUND, "CommHandle cannot be set");
  checkHr(c.put(L"AbreCupomFiscal", vBool(true)), DISP_E_MEMBERNOTFOUND, "a method cannot be set");
  checkHr(c.get(L"UltimoErro", &r), S_OK, "UltimoErro after the refused put");
  check(bstrOf(r) == want, "the refused put changed nothing");
  VariantClear(&r);

  // A settable property: any value automation can coerce to a boolean.
  checkHr(c.put(L"AlterarHVAgendado", vI2(1)), S_OK, "AlterarHVAgendado = 1");
  checkHr(c.get(L"AlterarHVAgendado", &r), S_OK, "AlterarHVAgendado");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == VARIANT_TRUE, "AlterarHVAgendado reads TRUE (-1)");
  checkHr(c.put(L"AlterarHVAgendado", vBstr(L"0")), S_OK, "AlterarHVAgendado = \"0\"");
  checkHr(c.get(L"AlterarHVAgendado", &r), S_OK, "AlterarHVAgendado");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == 0, "AlterarHVAgendado reads FALSE");
}

std::vector<std::wstring> modelNames(Dispatch& c, size_t& endAt, std::wstring& raw) {
  const size_t n = 4000;
  BSTR host = SysAllocStringLen(nullptr, n);
  for (size_t i = 0; i < n; ++i) host[i] = L'x';
  BSTR before = host;
  VARIANT r;
  checkHr(c.method(L"ImpressorasDisponiveis", {vRef(VT_BSTR, &host)}, &r), S_OK, "ImpressorasDisponiveis");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == VARIANT_TRUE, "ImpressorasDisponiveis returns TRUE (-1)");
  check(host == before, "the host's string is not reallocated");
  check(SysStringLen(host) == n, "the host's string keeps its length");
  raw.assign(host, n);
  auto names = splitList(host, n, endAt);
  SysFreeString(host);
  return names;
}

void testModelList(Dispatch& c) {
  size_t endAt = 0;
  std::wstring raw;
  auto names = modelNames(c, endAt, raw);
  check(names.size() == 56, "56 fiscal model names");
  if (names.size() == 56) {
    check(names[0] == L"BEMATECH MP-20 FI II ECF-IF", "first model name");
    check(names[12] == L"DARUMA FS600", "model 13");
    check(names[55] == L"DARUMA FS800I", "last model name");
  }
  // After the last name's NUL, two more NULs and nothing else written.
  check(endAt + 3 <= raw.size() && raw[endAt] == 0 && raw[endAt + 1] == 0 && raw[endAt + 2] == L'x',
        "the list ends with two more NULs and nothing past them");

  // The way VBScript passes a variable: a reference to its variant.
  VARIANT var;
  VariantInit(&var);
  V_VT(&var) = VT_BSTR;
  V_BSTR(&var) = SysAllocStringLen(nullptr, 3000);
  BSTR before = V_BSTR(&var);
  VARIANT r;
  checkHr(c.method(L"CheckPrinters", {vRef(VT_VARIANT, &var)}, &r), S_OK, "CheckPrinters by variant reference");
  check(V_VT(&var) == VT_BSTR && V_BSTR(&var) == before, "the variant keeps its own string");
  size_t end2 = 0;
  auto checks = splitList(V_BSTR(&var), 3000, end2);
  check(checks.size() == 21 && checks[9] == L"PERTOCHECK", "21 check printer names, the 10th PERTOCHECK");
  VariantClear(&var);
}

// The host's buffer is shorter than the result: only its length is written.
void testGuardedOutStrings(Dispatch& c) {
  size_t endAt = 0;
  std::wstring full;
  modelNames(c, endAt, full);
  full.resize(endAt + 2);
  for (size_t n : {size_t(0), size_t(1), size_t(10), size_t(27), size_t(28), size_t(29), size_t(1000)}) {
    GuardedBstr g(n);
    VARIANT r;
    HRESULT hr = c.method(L"ImpressorasDisponiveis", {vRef(VT_BSTR, g.ref())}, &r);
    char what[96];
    std::snprintf(what, sizeof what, "ImpressorasDisponiveis into a %u-character string", static_cast<unsigned>(n));
    checkHr(hr, S_OK, what);
    check(g.intact(), what, "wrote past the string's length");
    check(g.sameBstr(), what, "replaced the host's string");
    size_t want = n < full.size() ? n : full.size();
    check(g.text().compare(0, want, full, 0, want) == 0, what, "holds the start of the list");
    if (n > full.size()) check(g.text()[want] == L'x', what, "wrote beyond the list");
  }
  // The same through a variant reference.
  GuardedBstr g(5);
  VARIANT var;
  VariantInit(&var);
  V_VT(&var) = VT_BSTR;
  V_BSTR(&var) = g.bstr();
  VARIANT r;
  checkHr(c.method(L"ImpressorasDisponiveis", {vRef(VT_VARIANT, &var)}, &r), S_OK, "list into a variant reference");
  check(g.intact() && V_BSTR(&var) == g.bstr(), "a 5-character variant string is not overrun");
  check(g.text() == L"BEMAT", "it holds the first 5 characters");
}

// Without a driver the outs keep what the host passed (the flags are cleared).
void testOutsWithoutDriver(Dispatch& c) {
  GuardedBstr g(8);
  VARIANT r;
  checkHr(c.method(L"ReadSerialNumber", {vRef(VT_BSTR, g.ref())}, &r), S_OK, "ReadSerialNumber");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == 0, "ReadSerialNumber without a driver is FALSE");
  check(g.intact() && g.text() == L"xxxxxxxx", "the host's string is left as it was");

  VARIANT_BOOL open = VARIANT_TRUE;
  checkHr(c.method(L"CupomFiscalAberto", {vRef(VT_BOOL, &open)}, &r), S_OK, "CupomFiscalAberto");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == 0, "CupomFiscalAberto without a driver is FALSE");
  check(open == 0, "the out flag is cleared");

  DATE when = 12345.5;
  checkHr(c.method(L"ReadDateTime", {vRef(VT_DATE, &when)}, &r), S_OK, "ReadDateTime");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == 0, "ReadDateTime without a driver is FALSE");
  check(when == 12345.5, "the out date is left as it was");

  checkHr(c.method(L"PaymentTypeIndex", {vBstr(L"Dinheiro")}, &r), S_OK, "PaymentTypeIndex");
  check(V_VT(&r) == VT_I2 && V_I2(&r) == -1, "PaymentTypeIndex without a driver is -1 as a short");
  checkHr(c.get(L"FiscalDate", &r), S_OK, "FiscalDate");
  check(V_VT(&r) == VT_DATE && V_DATE(&r) == 0.0, "FiscalDate without a driver is a zero date");
}

void testInitialise(Dispatch& c) {
  VARIANT r;
  // Arguments of other automation types are coerced to the parameters' types.
  checkHr(c.method(L"InitializeECF",
                   {vBstr(L"9"), vR8(1.0), vI2(9600), vI4(0), vBstr(L"8"), vI2(1), vI2(0), vI2(0), vBool(false)}, &r),
          S_OK, "InitializeECF(\"9\", 1.0, ...) without opening the port");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == VARIANT_TRUE, "InitializeECF returns TRUE (-1)");
  checkHr(c.get(L"EquipamentMark", &r), S_OK, "EquipamentMark");
  check(bstrOf(r) == L"BEMATECH", "maker of model 9", narrow(bstrOf(r)).c_str());
  VariantClear(&r);
  checkHr(c.get(L"EquipamentModel", &r), S_OK, "EquipamentModel");
  check(bstrOf(r) == L"MP-6000 TH FI", "model of model 9", narrow(bstrOf(r)).c_str());
  VariantClear(&r);

  checkHr(c.method(L"InitializeECF",
                   {vI4(1), vI4(0), vI4(9600), vI4(0), vI4(8), vI4(1), vI4(0), vBool(false), vBool(false)}, &r),
          S_OK, "InitializeECF on port 0");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == 0, "InitializeECF on port 0 is FALSE");
  checkHr(c.get(L"UltimoErro", &r), S_OK, "UltimoErro");
  std::wstring want = std::wstring(L"O n\u00famero da porta serial deve ser maior que zero.\r\n") + kNotInitialised;
  check(bstrOf(r) == want, "UltimoErro after port 0", narrow(bstrOf(r)).c_str());
  VariantClear(&r);
}

void testClassInfoAndPages(IDispatch* d) {
  IProvideClassInfo* pci = nullptr;
  checkHr(d->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pci)), S_OK, "IProvideClassInfo");
  if (pci) {
    ITypeInfo* info = nullptr;
    checkHr(pci->GetClassInfo(&info), S_OK, "GetClassInfo");
    if (info) {
      checkTypeKind(info, kControlClsid, TKIND_COCLASS, "class information");
      info->Release();
    }
    pci->Release();
  }
  IDispatch* same = nullptr;
  checkHr(d->QueryInterface(kDispatchIid, reinterpret_cast<void**>(&same)), S_OK, "QueryInterface(_DTarvion)");
  if (same) same->Release();
  IProvideClassInfo2* pci2 = nullptr;
  checkHr(d->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&pci2)), S_OK, "IProvideClassInfo2");
  if (pci2) {
    GUID source = GUID_NULL;
    checkHr(pci2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK, "GetGUID(default source)");
    check(source == kEventsIid, "the default source is _DTarvionEvents");
    pci2->Release();
  }

  ISpecifyPropertyPages* spp = nullptr;
  checkHr(d->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&spp)), S_OK, "ISpecifyPropertyPages");
  if (spp) {
    CAUUID pages = {0, nullptr};
    checkHr(spp->GetPages(&pages), S_OK, "GetPages");
    check(pages.cElems == 1 && pages.pElems && pages.pElems[0] == kPropPageClsid, "the one property page");
    CoTaskMemFree(pages.pElems);
    spp->Release();
  }

  CLSID page;
  checkHr(CLSIDFromProgID(L"TARVION.TarvionPropPage.1", &page), S_OK, "CLSIDFromProgID(property page)");
  check(page == kPropPageClsid, "the property page's program identifier");
  IPropertyPage* pp = nullptr;
  checkHr(
      CoCreateInstance(kPropPageClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, reinterpret_cast<void**>(&pp)),
      S_OK, "CoCreateInstance(property page)");
  if (pp) {
    PROPPAGEINFO info;
    std::memset(&info, 0, sizeof info);
    info.cb = sizeof info;
    checkHr(pp->GetPageInfo(&info), S_OK, "GetPageInfo");
    check(info.pszTitle && std::wcscmp(info.pszTitle, L"General") == 0, "page caption is string 200, General");
    // 250 x 62 dialog units: wide and low.
    check(info.size.cx > 0 && info.size.cy > 0 && info.size.cx > 2 * info.size.cy, "page size from dialog 200");
    CoTaskMemFree(info.pszTitle);
    checkHr(pp->IsPageDirty(), S_FALSE, "the page is never dirty");
    pp->Release();
  }
}

int runDispatch(const wchar_t* dumpPath) {
  IDispatch* raw = createControl();
  if (!raw) {
    std::printf("%d passed, %d failed\n", passed, failed);
    return 1;
  }
  wchar_t* progId = nullptr;
  if (SUCCEEDED(ProgIDFromCLSID(kControlClsid, &progId))) {
    check(std::wcscmp(progId, L"Tarvion.TarvionCtrl.1") == 0, "ProgIDFromCLSID");
    CoTaskMemFree(progId);
  } else {
    check(false, "ProgIDFromCLSID");
  }
  Dispatch c(raw);
  UINT count = 0;
  checkHr(raw->GetTypeInfoCount(&count), S_OK, "GetTypeInfoCount");
  check(count == 1, "one type information");
  ITypeInfo* info = nullptr;
  checkHr(raw->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX, "GetTypeInfo(1)");
  checkHr(raw->GetTypeInfo(0, 0, &info), S_OK, "GetTypeInfo(0)");
  if (info) {
    checkTypeKind(info, kDispatchIid, TKIND_DISPATCH, "GetTypeInfo");
    writeDump(dumpPath, info);
    info->Release();
  }
  // The registered type library is the embedded one.
  ITypeLib* reg = nullptr;
  checkHr(LoadRegTypeLib(kLibId, 1, 0, 0, &reg), S_OK, "LoadRegTypeLib(TarvionLib 1.0)");
  if (reg) reg->Release();

  testNames(c);
  testDispatchErrors(c);
  testExisteECF(c);
  testUltimoErro(c);
  testModelList(c);
  testGuardedOutStrings(c);
  testOutsWithoutDriver(c);
  testInitialise(c);
  testClassInfoAndPages(raw);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

// ------------------------------------------------------------------ with the virtual printer

int runPrinter(long port) {
  IDispatch* raw = createControl();
  if (!raw) {
    std::printf("%d passed, %d failed\n", passed, failed);
    return 1;
  }
  Dispatch c(raw);
  VARIANT r;
  checkHr(c.method(L"InitializeECF",
                   {vI4(1), vI4(port), vI4(115200), vI4(0), vI4(8), vI4(1), vI4(0), vBool(true), vBool(true)}, &r),
          S_OK, "InitializeECF on the virtual printer");
  // The driver's success (1) is passed on as it is, not turned into -1.
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == 1, "InitializeECF opened the port and read the printer (1)");
  if (V_VT(&r) != VT_BOOL || V_BOOL(&r) == 0) {
    checkHr(c.get(L"UltimoErro", &r), S_OK, "UltimoErro");
    std::printf("UltimoErro: %s\n", narrow(bstrOf(r)).c_str());
    VariantClear(&r);
    std::printf("%d passed, %d failed\n", passed, failed);
    return 1;
  }

  // The receipt number: whole into a long string, cut into a short one.
  GuardedBstr longer(40), shorter(3);
  checkHr(c.method(L"RetornaNumeroCupom", {vRef(VT_BSTR, longer.ref())}, &r), S_OK, "RetornaNumeroCupom");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) != 0, "RetornaNumeroCupom succeeds");
  std::wstring number(longer.bstr());
  check(longer.intact() && number.size() == 6 && number.find_first_not_of(L"0123456789") == std::wstring::npos,
        "the receipt number is six digits ended by a NUL", narrow(number).c_str());
  check(number.size() < 40 && longer.text()[number.size() + 1] == L'x', "nothing written after the NUL");
  checkHr(c.method(L"RetornaNumeroCupom", {vRef(VT_BSTR, shorter.ref())}, &r), S_OK, "RetornaNumeroCupom short");
  check(shorter.intact(), "a 3-character string is not overrun by the receipt number");
  check(shorter.text() == number.substr(0, 3), "it holds the first 3 digits", narrow(shorter.text()).c_str());

  GuardedBstr serial(64);
  checkHr(c.method(L"ReadSerialNumber", {vRef(VT_BSTR, serial.ref())}, &r), S_OK, "ReadSerialNumber");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) != 0 && std::wcslen(serial.bstr()) > 0 && serial.intact(),
        "ReadSerialNumber fills the host's string", narrow(serial.bstr(), std::wcslen(serial.bstr())).c_str());

  // A raw command framed by hand (STX, length, ESC, 35, 0, checksum): the
  // serial number read. The answer's bytes go into the host's string one per
  // character, at most intTamResp of them and no NUL after them.
  const std::wstring serialText(serial.bstr());
  const OLECHAR frame[] = {0x02, 0x05, 0x00, 0x1B, 0x23, 0x00, 0x3E, 0x00};
  GuardedBstr answer(64);
  LONG size = 5;
  VARIANT command;
  VariantInit(&command);
  V_VT(&command) = VT_BSTR;
  V_BSTR(&command) = SysAllocStringLen(frame, 8);
  checkHr(c.method(L"EnviaComandoECF", {command, vI4(8), vRef(VT_BSTR, answer.ref()), vRef(VT_I4, &size)}, &r), S_OK,
          "EnviaComandoECF");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) != 0, "EnviaComandoECF succeeds");
  check(size == 5, "a shorter intTamResp stays as it was");
  check(answer.text().compare(0, 5, serialText, 0, 5) == 0 && answer.text()[5] == L'x' && answer.intact(),
        "5 answer bytes and nothing more", narrow(answer.text()).c_str());
  size = 64;
  V_VT(&command) = VT_BSTR;
  V_BSTR(&command) = SysAllocStringLen(frame, 8);
  checkHr(c.method(L"EnviaComandoECF", {command, vI4(8), vRef(VT_BSTR, answer.ref()), vRef(VT_I4, &size)}, &r), S_OK,
          "EnviaComandoECF again");
  check(size >= static_cast<LONG>(serialText.size()) && size < 64, "a longer intTamResp becomes the answer's length");
  check(answer.text().compare(0, serialText.size(), serialText) == 0 && answer.intact(),
        "the answer starts with the serial number", narrow(answer.text()).c_str());

  // A flag into the host's own variant (VBScript's Dim'd variable is Empty).
  VARIANT flag;
  VariantInit(&flag);
  checkHr(c.method(L"CupomFiscalAberto", {vRef(VT_VARIANT, &flag)}, &r), S_OK, "CupomFiscalAberto");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) != 0, "CupomFiscalAberto succeeds");
  check(V_VT(&flag) == VT_BOOL && V_BOOL(&flag) == 0, "no receipt is open: the variant holds FALSE");

  DATE now = 0;
  checkHr(c.method(L"ReadDateTime", {vRef(VT_DATE, &now)}, &r), S_OK, "ReadDateTime");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == VARIANT_TRUE, "ReadDateTime returns TRUE (-1)");
  check(now > 36526.0, "the printer's clock is after 2000");

  VARIANT count;
  checkHr(c.get(L"PaymentTypeCount", &count), S_OK, "PaymentTypeCount");
  check(V_VT(&count) == VT_I2 && V_I2(&count) >= 2, "the payment types were read (a short)");

  GuardedBstr taxes(200);
  checkHr(c.method(L"RetornaAliquotas", {vRef(VT_BSTR, taxes.ref())}, &r), S_OK, "RetornaAliquotas");
  std::wstring list(taxes.bstr());
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) != 0 && list.find(L"T18.00") != std::wstring::npos && taxes.intact(),
        "RetornaAliquotas lists the printer's taxes", narrow(list).c_str());
  checkHr(c.method(L"CloseComm", {}, &r), S_OK, "CloseComm");
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) != 0, "CloseComm succeeds");
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

// A port where nothing answers: the control gives up within the port's
// time-outs (5 s of silence here), not the two-minute answer wait, and says
// why.
int runSilent(long port) {
  IDispatch* raw = createControl();
  if (!raw) return report();
  Dispatch c(raw);
  VARIANT r;
  const ULONGLONG start = GetTickCount64();
  checkHr(c.method(L"InitializeECF",
                   {vI4(1), vI4(port), vI4(9600), vI4(0), vI4(8), vI4(1), vI4(0), vBool(true), vBool(true)}, &r),
          S_OK, "InitializeECF on a silent port");
  const ULONGLONG took = GetTickCount64() - start;
  check(V_VT(&r) == VT_BOOL && V_BOOL(&r) == 0, "InitializeECF on a silent port is FALSE");
  check(took >= 4000 && took < 15000, "it gives up after the port's time-outs",
        std::to_string(took).append(" ms").c_str());
  checkHr(c.get(L"UltimoErro", &r), S_OK, "UltimoErro");
  const std::wstring want = L"A impressora selecionada n\u00e3o p\u00f4de ser encontrada na porta serial.";
  check(bstrOf(r) == want, "UltimoErro says the printer was not found", narrow(bstrOf(r)).c_str());
  VariantClear(&r);
  return report();
}

}  // namespace

int runContainer();

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: client dispatch DUMP | printer PORT | entrypoints DLL | typelib DLL win32|win64 DUMP | "
                 "container | silent PORT\n");
    return 2;
  }
  std::wstring mode = argv[1];
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    std::printf("CoInitializeEx failed %s\n", hex(hr).c_str());
    return 1;
  }
  int rc = 2;
  if (mode == L"dispatch" && argc == 3)
    rc = runDispatch(argv[2]);
  else if (mode == L"printer" && argc == 3)
    rc = runPrinter(std::wcstol(argv[2], nullptr, 10));
  else if (mode == L"entrypoints" && argc == 3)
    rc = runEntryPoints(argv[2]);
  else if (mode == L"silent" && argc == 3)
    rc = runSilent(std::wcstol(argv[2], nullptr, 10));
  else if (mode == L"container" && argc == 2)
    rc = runContainer();
  else if (mode == L"typelib" && argc == 5)
    rc = runTypelib(argv[2], argv[3], argv[4]);
  else
    std::fprintf(stderr, "client: bad arguments\n");
  CoUninitialize();
  return rc;
}
