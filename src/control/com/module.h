// What the COM server knows about the module it lives in: its handle, its path,
// and the counts that decide whether it may be unloaded.
#pragma once

#include <windows.h>

#include <string>

namespace tarvion::com {

HINSTANCE moduleInstance();
// Full path of this DLL (what InprocServer32 points at).
std::wstring modulePath();
// A string resource of this module; empty when missing.
std::wstring moduleString(UINT id);

// Live objects and LockServer locks: DllCanUnloadNow says yes only when both are 0.
void objectCreated();
void objectDestroyed();
void lockModule(bool lock);
bool moduleInUse();

// The type library embedded in this DLL (resource TYPELIB 1), loaded without
// touching the registry.
HRESULT loadOwnTypeLib(ITypeLib** out);
HRESULT ownTypeInfo(REFGUID guid, ITypeInfo** out);

}  // namespace tarvion::com
