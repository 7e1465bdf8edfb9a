// CTarvionCtrl as a COM object: IDispatch answered from the entry table (the
// same table the type library is generated from), IProvideClassInfo2 for hosts
// that look for the class's type information and its event interface,
// ISpecifyPropertyPages for the one property page, and the embedding
// interfaces (embedding.h) that let a form designer site it.

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
// clang-format on

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "control/com/automation.h"
#include "control/com/com_ids.h"
#include "control/com/embedding.h"
#include "control/com/module.h"
#include "control/com/objects.h"
#include "core/text.h"
#include "tarvion/tarvion.hpp"

namespace tarvion::com {
namespace {

// Parameter names are ASCII; automation compares names without case.
bool sameNameIgnoringCase(const char* a, const std::string& b) {
  size_t n = std::strlen(a);
  if (n != b.size()) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

class ControlObject final : public IDispatch, public IProvideClassInfo2, public ISpecifyPropertyPages {
 public:
  ControlObject() : ctrl_(std::make_unique<CTarvionCtrl>()), embedding_(static_cast<IDispatch*>(this)) {
    objectCreated();
  }
  ~ControlObject() {
    // While the whole object still stands: the host's site may call back in.
    embedding_.release();
    objectDestroyed();
  }
  ControlObject(const ControlObject&) = delete;
  ControlObject& operator=(const ControlObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    // The dispatch interface's own identifier is answered with IDispatch, as
    // hosts that bind to _DTarvion by IID expect.
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kDispatchIid)
      *out = static_cast<IDispatch*>(this);
    else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
      *out = static_cast<IProvideClassInfo2*>(this);
    else if (riid == IID_ISpecifyPropertyPages)
      *out = static_cast<ISpecifyPropertyPages*>(this);
    else if (void* embedded = embedding_.find(riid))
      *out = embedded;
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) {
      // Going away tells the host's in-place site, which may call back in: a
      // reference held through that keeps the object from being deleted twice.
      refs_ = 1;
      delete this;
    }
    return static_cast<ULONG>(n);
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    try {
      return ownTypeInfo(kDispatchIid, info);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    try {
      return idsOfNames(riid, names, count, ids);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT* argErr) override {
    try {
      return invoke(id, riid, lcid, flags, params, result, argErr);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    if (!info) return E_POINTER;
    try {
      return ownTypeInfo(kControlClsid, info);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  // IProvideClassInfo2: the event interface hosts connect their sinks to.
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
      *guid = GUID_NULL;
      return E_INVALIDARG;
    }
    *guid = kEventsIid;
    return S_OK;
  }

  // ISpecifyPropertyPages
  HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = kPropPageClsid;
    pages->cElems = 1;
    return S_OK;
  }

 private:
  HRESULT idsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!ids || (count && !names)) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const EntryInfo* e = names[0] ? findEntry(fromBstrText(names[0])) : nullptr;
    if (!e) return DISP_E_UNKNOWNNAME;
    ids[0] = e->dispid;
    // Named arguments: a parameter's identifier is its position.
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
      std::string name = names[i] ? fromBstrText(names[i]) : std::string();
      for (int k = 0; k < e->paramCount; ++k)
        if (sameNameIgnoringCase(e->params[k].name, name)) ids[i] = k;
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  static std::string fromBstrText(const OLECHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return text::utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(s), n));
  }

  static void setArgErr(UINT* argErr, UINT index) {
    if (argErr) *argErr = index;
  }

  HRESULT invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (result) VariantInit(result);
    const EntryInfo* e = findEntry(static_cast<int>(id));
    if (!e) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
    if (params->cNamedArgs > params->cArgs || (params->cNamedArgs && !params->rgdispidNamedArgs)) return E_INVALIDARG;

    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return put(*e, lcid, *params, argErr);
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;

    // Place every argument at its parameter: positional ones come last-first in
    // rgvarg, named ones carry their position as identifier.
    const UINT count = static_cast<UINT>(e->paramCount);
    const UINT positional = params->cArgs - params->cNamedArgs;
    if (positional > count) return DISP_E_BADPARAMCOUNT;
    std::vector<int> slot(count, -1);  // index into rgvarg
    for (UINT i = 0; i < positional; ++i) slot[i] = static_cast<int>(params->cArgs - 1 - i);
    for (UINT k = 0; k < params->cNamedArgs; ++k) {
      DISPID named = params->rgdispidNamedArgs[k];
      if (named < 0 || static_cast<UINT>(named) >= count || slot[named] != -1) {
        setArgErr(argErr, k);
        return DISP_E_PARAMNOTFOUND;
      }
      slot[named] = static_cast<int>(k);
    }
    for (UINT i = 0; i < count; ++i)
      if (slot[i] == -1) return DISP_E_PARAMNOTOPTIONAL;

    std::vector<Value> args(count);
    for (UINT i = 0; i < count; ++i) {
      const ParamInfo& p = e->params[i];
      VARIANT& arg = params->rgvarg[slot[i]];
      HRESULT hr;
      if (p.dir == Dir::In) {
        hr = readArgument(arg, p.type, lcid, args[i]);
      } else {
        hr = checkOutParameter(arg, p);
        if (SUCCEEDED(hr)) prepareOutParameter(arg, p, lcid, args[i]);
      }
      if (FAILED(hr)) {
        setArgErr(argErr, static_cast<UINT>(slot[i]));
        return hr;
      }
    }

    Value r = ctrl_->InvokeCp1252(*e, args);

    for (UINT i = 0; i < count; ++i)
      if (e->params[i].dir != Dir::In) writeOutParameter(params->rgvarg[slot[i]], e->params[i], args[i]);
    if (result) return resultToVariant(r, *result);
    return S_OK;
  }

  HRESULT put(const EntryInfo& e, LCID lcid, const DISPPARAMS& params, UINT* argErr) {
    // Read-only properties and methods cannot be assigned.
    if (e.kind != Kind::GetSet || e.paramCount != 0) return DISP_E_MEMBERNOTFOUND;
    if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (params.cNamedArgs == 1 && params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      setArgErr(argErr, 0);
      return DISP_E_PARAMNOTFOUND;
    }
    Value v;
    HRESULT hr = readArgument(params.rgvarg[0], e.result, lcid, v);
    if (FAILED(hr)) {
      setArgErr(argErr, 0);
      return hr;
    }
    return ctrl_->SetPropertyCp1252(e, v) ? S_OK : DISP_E_MEMBERNOTFOUND;
  }

  LONG refs_ = 1;
  std::unique_ptr<CTarvionCtrl> ctrl_;
  Embedding embedding_;
};

}  // namespace

HRESULT createControl(REFIID riid, void** out) {
  ControlObject* obj = new ControlObject();  // starts with one reference
  HRESULT hr = obj->QueryInterface(riid, out);
  obj->Release();
  return hr;
}

}  // namespace tarvion::com
