// CTarvionPropPage: the control's one property page. The control keeps no
// settings of its own, so the page is the empty dialog 200 with the caption
// "General": it shows, moves and hides, and never becomes dirty.

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
// clang-format on

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "control/com/com_object.h"
#include "control/com/module.h"
#include "control/com/objects.h"
#include "control/com/resource.h"

namespace tarvion::com {
namespace {

// The dialog's font (tarvion.rc); dialog units are measured against it.
constexpr const wchar_t* kDialogFont = L"MS Sans Serif";
constexpr int kDialogPoints = 8;

INT_PTR CALLBACK pageProc(HWND, UINT msg, WPARAM, LPARAM) {
  return msg == WM_INITDIALOG ? TRUE : FALSE;
}

// Width and height of dialog 200 in dialog units, read from the template itself.
bool dialogUnits(SIZE& units) {
  HRSRC res = FindResourceW(moduleInstance(), MAKEINTRESOURCEW(IDD_PROPPAGE_TARVION), MAKEINTRESOURCEW(5));
  if (!res) return false;
  HGLOBAL mem = LoadResource(moduleInstance(), res);
  const BYTE* p = mem ? static_cast<const BYTE*>(LockResource(mem)) : nullptr;
  if (!p || SizeofResource(moduleInstance(), res) < sizeof(DLGTEMPLATE)) return false;
  const WORD* w = reinterpret_cast<const WORD*>(p);
  if (w[0] == 1 && w[1] == 0xFFFF) {
    // DLGTEMPLATEEX: dlgVer, signature, helpID, exStyle, style, cDlgItems, x, y, cx, cy
    const BYTE* q = p + 4 + 4 + 4 + 4 + 2 + 2 + 2;
    units.cx = *reinterpret_cast<const short*>(q);
    units.cy = *reinterpret_cast<const short*>(q + 2);
  } else {
    const DLGTEMPLATE* t = reinterpret_cast<const DLGTEMPLATE*>(p);
    units.cx = t->cx;
    units.cy = t->cy;
  }
  return true;
}

// Dialog units to pixels with the dialog's own font, as the dialog manager
// converts them: average width of the alphabet, and the font's height.
SIZE dialogPixels(SIZE units) {
  LONG baseX = 0, baseY = 0;
  if (HDC dc = CreateCompatibleDC(nullptr)) {
    HFONT font = CreateFontW(-MulDiv(kDialogPoints, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, kDialogFont);
    if (font) {
      HGDIOBJ old = SelectObject(dc, font);
      TEXTMETRICW tm;
      SIZE extent;
      static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
      if (GetTextMetricsW(dc, &tm) && GetTextExtentPoint32W(dc, kAlphabet, 52, &extent)) {
        baseX = (extent.cx / 26 + 1) / 2;
        baseY = tm.tmHeight;
      }
      SelectObject(dc, old);
      DeleteObject(font);
    }
    DeleteDC(dc);
  }
  if (baseX <= 0 || baseY <= 0) {
    LONG units = GetDialogBaseUnits();
    baseX = LOWORD(units);
    baseY = HIWORD(units);
  }
  return SIZE{MulDiv(units.cx, baseX, 4), MulDiv(units.cy, baseY, 8)};
}

wchar_t* coTaskCopy(const std::wstring& s) {
  auto* p = static_cast<wchar_t*>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
  if (p) std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
  return p;
}

class PropertyPage final : public SingleInterfaceObject<IPropertyPage, IID_IPropertyPage> {
 public:
  PropertyPage() = default;
  ~PropertyPage() override {
    destroyWindow();
    releaseObjects();
    if (site_) site_->Release();
  }

  HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override {
    if (site) site->AddRef();
    if (site_) site_->Release();
    site_ = site;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL) override {
    if (!rect) return E_POINTER;
    if (window_) return E_UNEXPECTED;
    window_ = CreateDialogParamW(moduleInstance(), MAKEINTRESOURCEW(IDD_PROPPAGE_TARVION), parent, &pageProc, 0);
    if (!window_) return HRESULT_FROM_WIN32(GetLastError());
    return Move(rect);
  }
  HRESULT STDMETHODCALLTYPE Deactivate() override {
    destroyWindow();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override {
    if (!info) return E_POINTER;
    try {
      SIZE units;
      if (!dialogUnits(units)) return E_FAIL;
      std::memset(info, 0, sizeof *info);
      info->cb = sizeof *info;
      info->pszTitle = coTaskCopy(moduleString(IDS_TARVION_PPG_CAPTION));
      if (!info->pszTitle) return E_OUTOFMEMORY;
      info->size = dialogPixels(units);
      return S_OK;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override {
    if (count && !objects) return E_POINTER;
    try {
      releaseObjects();
      for (ULONG i = 0; i < count; ++i) {
        if (!objects[i]) continue;
        objects[i]->AddRef();
        objects_.push_back(objects[i]);
      }
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT STDMETHODCALLTYPE Show(UINT cmd) override {
    if (!window_) return E_UNEXPECTED;
    ShowWindow(window_, static_cast<int>(cmd));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override {
    if (!rect) return E_POINTER;
    if (!window_) return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
  }
  // Nothing on the page can change, so there is never anything to apply.
  HRESULT STDMETHODCALLTYPE IsPageDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Apply() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

 private:
  void destroyWindow() {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
  }
  void releaseObjects() {
    for (IUnknown* o : objects_) o->Release();
    objects_.clear();
  }

  IPropertyPageSite* site_ = nullptr;
  HWND window_ = nullptr;
  std::vector<IUnknown*> objects_;
};

}  // namespace

HRESULT createPropertyPage(REFIID riid, void** out) {
  PropertyPage* page = new PropertyPage();
  HRESULT hr = page->QueryInterface(riid, out);
  page->Release();
  return hr;
}

}  // namespace tarvion::com
