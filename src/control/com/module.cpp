// The in-process server's entry points: DllMain, DllGetClassObject and
// DllCanUnloadNow, with the class factories of the control and its property page.

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <ole2.h>
// clang-format on

#include "control/com/module.h"

#include <new>

#include "control/com/com_ids.h"
#include "control/com/embedding.h"
#include "control/com/objects.h"

namespace tarvion::com {

namespace {

HINSTANCE gInstance = nullptr;
LONG gObjects = 0;
LONG gLocks = 0;

using CreateFn = HRESULT (*)(REFIID, void**);

// One factory per class. They live for the whole life of the module, so their
// reference count only keeps the module loaded while a client holds them.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreateFn create) : create_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    lockModule(true);
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    lockModule(false);
    return 1;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    try {
      return create_(riid, out);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lockModule(lock != FALSE);
    return S_OK;
  }

 private:
  CreateFn create_;
};

ClassFactory gControlFactory(&createControl);
ClassFactory gPropPageFactory(&createPropertyPage);

}  // namespace

HINSTANCE moduleInstance() {
  return gInstance;
}

std::wstring modulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(gInstance, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring moduleString(UINT id) {
  const wchar_t* text = nullptr;
  // With a zero buffer size LoadStringW hands out a pointer into the resource.
  int n = LoadStringW(gInstance, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (n <= 0 || !text) return {};
  return std::wstring(text, static_cast<size_t>(n));
}

void objectCreated() {
  InterlockedIncrement(&gObjects);
}
void objectDestroyed() {
  InterlockedDecrement(&gObjects);
}
void lockModule(bool lock) {
  if (lock)
    InterlockedIncrement(&gLocks);
  else
    InterlockedDecrement(&gLocks);
}
bool moduleInUse() {
  return gObjects > 0 || gLocks > 0;
}

HRESULT loadOwnTypeLib(ITypeLib** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::wstring path = modulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, out);
}

HRESULT ownTypeInfo(REFGUID guid, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ITypeLib* lib = nullptr;
  HRESULT hr = loadOwnTypeLib(&lib);
  if (FAILED(hr)) return hr;
  hr = lib->GetTypeInfoOfGuid(guid, out);
  lib->Release();
  return hr;
}

}  // namespace tarvion::com

using namespace tarvion::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    gInstance = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    unregisterControlWindowClass();
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid == kControlClsid) return gControlFactory.QueryInterface(riid, out);
  if (clsid == kPropPageClsid) return gPropPageFactory.QueryInterface(riid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
  return moduleInUse() ? S_FALSE : S_OK;
}
