// DllRegisterServer and DllUnregisterServer: the type library first, then the
// two classes with their program identifiers, as OLE control hosts expect them.

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
// clang-format on

#include <string>
#include <vector>

#include "control/com/com_ids.h"
#include "control/com/module.h"
#include "control/com/resource.h"

namespace tarvion::com {
namespace {

std::wstring guidText(REFGUID g) {
  wchar_t buf[64] = {};
  StringFromGUID2(g, buf, 64);
  return buf;
}

// Creates (or opens) root\path and sets one string value in it ("" = the default value).
bool setValue(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

bool createKey(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// A missing key is already what unregistration wants.
bool deleteTree(const std::wstring& path) {
  LONG r = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

std::wstring directoryOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The embedded type library must describe the classes this module creates;
// registering a mismatched one would point hosts at the wrong interface.
HRESULT checkTypeLib(ITypeLib* lib) {
  for (const GUID* g : {&kDispatchIid, &kEventsIid, &kControlClsid}) {
    ITypeInfo* info = nullptr;
    HRESULT hr = lib->GetTypeInfoOfGuid(*g, &info);
    if (FAILED(hr)) return hr;
    info->Release();
  }
  TLIBATTR* attr = nullptr;
  HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  bool same = attr->guid == kLibId && attr->wMajorVerNum == kLibMajor && attr->wMinorVerNum == kLibMinor;
  lib->ReleaseTLibAttr(attr);
  return same ? S_OK : TYPE_E_LIBNOTREGISTERED;
}

HRESULT registerTypeLib() {
  ITypeLib* lib = nullptr;
  HRESULT hr = loadOwnTypeLib(&lib);
  if (FAILED(hr)) return hr;
  hr = checkTypeLib(lib);
  if (SUCCEEDED(hr)) {
    std::wstring path = modulePath();
    std::wstring dir = directoryOf(path);
    hr = RegisterTypeLib(lib, path.data(), dir.empty() ? nullptr : dir.data());
  }
  lib->Release();
  return hr;
}

HRESULT unregisterTypeLib() {
  // The registered entry is keyed by the library's locale and platform, which
  // the embedded library tells.
  ITypeLib* lib = nullptr;
  HRESULT hr = loadOwnTypeLib(&lib);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (SUCCEEDED(hr)) {
    hr = UnRegisterTypeLib(kLibId, kLibMajor, kLibMinor, attr->lcid, attr->syskind);
    lib->ReleaseTLibAttr(attr);
  }
  lib->Release();
  return hr;
}

HRESULT registerClasses() {
  const std::wstring path = modulePath();
  if (path.empty()) return E_FAIL;

  // The control: an insertable, apartment-threaded control, invisible at run time.
  const std::wstring ctrlName = moduleString(IDS_TARVION);
  const std::wstring ctrlClsid = guidText(kControlClsid);
  const std::wstring ctrlKey = L"CLSID\\" + ctrlClsid;
  const std::wstring ctrlProg = kControlProgId;
  bool ok = !ctrlName.empty() && setValue(ctrlKey, L"", ctrlName) && setValue(ctrlKey + L"\\ProgID", L"", ctrlProg) &&
            setValue(ctrlKey + L"\\InprocServer32", L"", path) &&
            setValue(ctrlKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
            createKey(ctrlKey + L"\\Control") && createKey(ctrlKey + L"\\Insertable") &&
            setValue(ctrlKey + L"\\MiscStatus", L"", L"0") &&
            setValue(ctrlKey + L"\\MiscStatus\\1", L"", std::to_wstring(kMiscStatus)) &&
            setValue(ctrlKey + L"\\ToolboxBitmap32", L"", path + L", " + std::to_wstring(IDB_TARVION)) &&
            setValue(ctrlKey + L"\\TypeLib", L"", guidText(kLibId)) &&
            setValue(ctrlKey + L"\\Version", L"", std::to_wstring(kLibMajor) + L"." + std::to_wstring(kLibMinor)) &&
            setValue(ctrlProg, L"", ctrlName) && setValue(ctrlProg + L"\\CLSID", L"", ctrlClsid) &&
            createKey(ctrlProg + L"\\Insertable");
  if (!ok) return SELFREG_E_CLASS;

  // The property page.
  const std::wstring pageName = moduleString(IDS_TARVION_PPG);
  const std::wstring pageClsid = guidText(kPropPageClsid);
  const std::wstring pageKey = L"CLSID\\" + pageClsid;
  const std::wstring pageProg = kPropPageProgId;
  ok = !pageName.empty() && setValue(pageKey, L"", pageName) && setValue(pageKey + L"\\ProgID", L"", pageProg) &&
       setValue(pageKey + L"\\InprocServer32", L"", path) &&
       setValue(pageKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") && setValue(pageProg, L"", pageName) &&
       setValue(pageProg + L"\\CLSID", L"", pageClsid);
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregisterClasses() {
  bool ok = true;
  for (const std::wstring& key : {L"CLSID\\" + guidText(kControlClsid), std::wstring(kControlProgId),
                                  L"CLSID\\" + guidText(kPropPageClsid), std::wstring(kPropPageProgId)})
    ok = deleteTree(key) && ok;
  return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace
}  // namespace tarvion::com

using namespace tarvion::com;

STDAPI DllRegisterServer() {
  try {
    if (FAILED(registerTypeLib())) return SELFREG_E_TYPELIB;
    if (FAILED(registerClasses())) return SELFREG_E_CLASS;
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

STDAPI DllUnregisterServer() {
  try {
    if (FAILED(unregisterTypeLib())) return SELFREG_E_TYPELIB;
    if (FAILED(unregisterClasses())) return SELFREG_E_CLASS;
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}
