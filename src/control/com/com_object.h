// IUnknown for the module's objects that answer one interface: they count
// their own references and are counted by the module while they live.
#pragma once

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <ole2.h>
// clang-format on

#include "control/com/module.h"

namespace tarvion::com {

template <class Interface, const IID& kIid>
class SingleInterfaceObject : public Interface {
 public:
  SingleInterfaceObject(const SingleInterfaceObject&) = delete;
  SingleInterfaceObject& operator=(const SingleInterfaceObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != kIid) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 protected:
  SingleInterfaceObject() { objectCreated(); }
  virtual ~SingleInterfaceObject() { objectDestroyed(); }

 private:
  LONG refs_ = 1;
};

}  // namespace tarvion::com
