// A form designer in miniature: embeds the control the way VB6 or Delphi do —
// persistence in a stream, a property bag and a storage, drawing, a client site
// with an in-place site and ambient properties, in-place activation in design
// and run mode, and the connection points hosts hook their event sinks to.

#include <map>
#include <string>

#include "checks.h"

namespace {

using namespace winetest;

// IUnknown of a stack object owned by the test: counts references so the test
// can see that the control lets go of what it was given.
template <class... Interfaces>
class TestObject : public Interfaces... {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

// The host's site: client site, in-place site, and the ambient properties
// (UserMode only) through IDispatch.
class Site final : public TestObject<IOleClientSite, IOleInPlaceSite, IDispatch> {
 public:
  HWND window = nullptr;
  bool userMode = false;
  bool canActivate = true;
  int activated = 0, deactivated = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IDispatch)
      *out = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override {
    *m = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
  // IOleWindow, IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* w) override {
    *w = window;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return canActivate ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
    ++activated;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
    *frame = nullptr;
    *doc = nullptr;
    SetRect(pos, 10, 20, 110, 70);
    SetRect(clip, 0, 0, 400, 300);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
    ++deactivated;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }
  // IDispatch: the ambient properties
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id != DISPID_AMBIENT_USERMODE || !result) return DISP_E_MEMBERNOTFOUND;
    VariantInit(result);
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = userMode ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
};

// A property bag that keeps what is written, as a form file would.
class Bag final : public TestObject<IPropertyBag> {
 public:
  std::map<std::wstring, VARIANT> values;
  ~Bag() {
    for (auto& [name, v] : values) VariantClear(&v);
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IPropertyBag) return E_NOINTERFACE;
    *out = static_cast<IPropertyBag*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* v, IErrorLog*) override {
    auto it = values.find(name);
    if (it == values.end()) return E_INVALIDARG;
    return VariantChangeType(v, &it->second, 0, V_VT(v) == VT_EMPTY ? V_VT(&it->second) : V_VT(v));
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* v) override {
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopy(&copy, v);
    if (FAILED(hr)) return hr;
    VariantClear(&values[name]);
    values[name] = copy;
    return S_OK;
  }
};

// An event sink: answers the events interface (or, with onlyDispatch, only IDispatch).
class Sink final : public TestObject<IDispatch> {
 public:
  explicit Sink(int answers) : answers_(answers) {}
  enum { kEvents = 1, kDispatchOnly = 2, kNothing = 3 };
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    const bool yes = riid == IID_IUnknown || (riid == kEventsIid && answers_ == kEvents) ||
                     (riid == IID_IDispatch && answers_ != kNothing);
    if (!yes) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return S_OK;
  }

 private:
  int answers_;
};

template <class T>
T* query(IUnknown* from, REFIID riid, const char* what) {
  T* p = nullptr;
  checkHr(from->QueryInterface(riid, reinterpret_cast<void**>(&p)), S_OK, what);
  return p;
}

IUnknown* identity(IUnknown* p) {
  IUnknown* u = nullptr;
  p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u));
  if (u) u->Release();
  return u;
}

std::vector<BYTE> streamBytes(IStream* s) {
  STATSTG st;
  std::vector<BYTE> bytes;
  if (FAILED(s->Stat(&st, STATFLAG_NONAME))) return bytes;
  bytes.resize(static_cast<size_t>(st.cbSize.QuadPart));
  LARGE_INTEGER zero{};
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  if (!bytes.empty()) s->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
  bytes.resize(got);
  return bytes;
}

const std::vector<BYTE> kStamp = {0x00, 0x00, 0x01, 0x00};  // version 1.0

void testObject(IOleObject* o) {
  DWORD misc = 0;
  checkHr(o->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK, "GetMiscStatus");
  check(misc == 132241, "misc status 132241");
  LPOLESTR type = nullptr;
  checkHr(o->GetUserType(USERCLASSTYPE_FULL, &type), S_OK, "GetUserType");
  check(type && std::wcscmp(type, L"Tarvion Control") == 0, "the type name is string 1");
  CoTaskMemFree(type);
  CLSID clsid = GUID_NULL;
  checkHr(o->GetUserClassID(&clsid), S_OK, "GetUserClassID");
  check(clsid == kControlClsid, "the user class is the control's");

  SIZEL size{0, 0};
  checkHr(o->GetExtent(DVASPECT_CONTENT, &size), S_OK, "GetExtent");
  check(size.cx > 0 && size.cy > 0, "a new control has a size");
  SIZEL wanted{3000, 1500};
  checkHr(o->SetExtent(DVASPECT_CONTENT, &wanted), S_OK, "SetExtent");
  checkHr(o->GetExtent(DVASPECT_CONTENT, &size), S_OK, "GetExtent after SetExtent");
  check(size.cx == 3000 && size.cy == 1500, "the extent set is the extent read");
  checkHr(o->SetExtent(DVASPECT_ICON, &wanted), DV_E_DVASPECT, "SetExtent of the icon aspect");

  IEnumOLEVERB* verbs = nullptr;
  checkHr(o->EnumVerbs(&verbs), S_OK, "EnumVerbs");
  if (verbs) {
    OLEVERB v[3];
    ULONG n = 0;
    checkHr(verbs->Next(3, v, &n), S_FALSE, "fewer verbs than asked for");
    check(n == 1 && v[0].lVerb == OLEIVERB_PROPERTIES && v[0].lpszVerbName, "one verb: Properties");
    for (ULONG i = 0; i < n; ++i) CoTaskMemFree(v[i].lpszVerbName);
    checkHr(verbs->Reset(), S_OK, "verbs Reset");
    checkHr(verbs->Skip(2), S_FALSE, "skipping past the end");
    verbs->Release();
  }
}

void testPersistence(IUnknown* control) {
  IPersistStreamInit* ps = query<IPersistStreamInit>(control, IID_IPersistStreamInit, "IPersistStreamInit");
  if (ps) {
    CLSID clsid = GUID_NULL;
    checkHr(ps->GetClassID(&clsid), S_OK, "GetClassID");
    check(clsid == kControlClsid, "persisted as the control's class");
    checkHr(ps->InitNew(), S_OK, "InitNew");
    IStream* s = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &s);
    checkHr(ps->Save(s, TRUE), S_OK, "Save to a stream");
    check(streamBytes(s) == kStamp, "the stream holds the version stamp 1.0 and nothing else");
    ULARGE_INTEGER max{};
    checkHr(ps->GetSizeMax(&max), S_OK, "GetSizeMax");
    check(max.QuadPart == 4, "4 bytes at most");
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    checkHr(ps->Load(s), S_OK, "Load what was saved");
    s->Release();
    IStream* empty = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &empty);
    check(FAILED(ps->Load(empty)), "a stream without the stamp does not load");
    empty->Release();
    checkHr(ps->IsDirty(), S_FALSE, "never dirty");
    ps->Release();
  }

  IPersistPropertyBag* pb = query<IPersistPropertyBag>(control, IID_IPersistPropertyBag, "IPersistPropertyBag");
  if (pb) {
    Bag bag;
    checkHr(pb->InitNew(), S_OK, "property bag InitNew");
    checkHr(pb->Save(&bag, TRUE, TRUE), S_OK, "Save to a property bag");
    check(bag.values.size() == 1, "one property saved");
    auto it = bag.values.find(L"_Version");
    check(it != bag.values.end() && V_VT(&it->second) == VT_I4 && V_I4(&it->second) == 65536, "_Version = 65536 (1.0)");
    checkHr(pb->Load(&bag, nullptr), S_OK, "Load from the bag");
    Bag none;
    checkHr(pb->Load(&none, nullptr), S_OK, "Load from a bag without the stamp");
    check(bag.refs == 1 && none.refs == 1, "the bags are not kept");
    pb->Release();
  }

  IPersistStorage* pst = query<IPersistStorage>(control, IID_IPersistStorage, "IPersistStorage");
  if (pst) {
    IStorage* stg = nullptr;
    checkHr(
        StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0, &stg),
        S_OK, "a storage");
    if (stg) {
      checkHr(pst->InitNew(stg), S_OK, "storage InitNew");
      checkHr(pst->Save(stg, TRUE), S_OK, "Save to a storage");
      checkHr(pst->SaveCompleted(nullptr), S_OK, "SaveCompleted");
      CLSID clsid = GUID_NULL;
      ReadClassStg(stg, &clsid);
      check(clsid == kControlClsid, "the storage names the control's class");
      IStream* contents = nullptr;
      checkHr(stg->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents), S_OK,
              "the Contents stream");
      if (contents) {
        check(streamBytes(contents) == kStamp, "Contents holds the version stamp");
        contents->Release();
      }
      checkHr(pst->Load(stg), S_OK, "Load from the storage");
      stg->Release();
    }
    pst->Release();
  }
}

// Renders through IViewObject into a red bitmap and reads pixels back.
void testDrawing(IUnknown* control) {
  IViewObject2* view = query<IViewObject2>(control, IID_IViewObject2, "IViewObject2");
  if (!view) return;
  BITMAPINFO bi;
  std::memset(&bi, 0, sizeof bi);
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = 41;
  bi.bmiHeader.biHeight = -21;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  check(dc && bmp && bits, "a bitmap to draw into");
  if (dc && bmp && bits) {
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT all{0, 0, 41, 21};
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &all, red);
    DeleteObject(red);
    RECTL bounds{0, 0, 41, 21};
    checkHr(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK,
            "Draw");
    check(GetPixel(dc, 0, 0) == RGB(255, 255, 255), "the corner is filled white");
    check(GetPixel(dc, 40, 20) == RGB(255, 255, 255), "the far corner is filled white");
    check(GetPixel(dc, 20, 0) == RGB(0, 0, 0), "the ellipse touches the top edge");
    check(GetPixel(dc, 0, 10) == RGB(0, 0, 0), "the ellipse touches the left edge");
    check(GetPixel(dc, 20, 10) == RGB(255, 255, 255), "the ellipse is white inside");
    checkHr(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), DV_E_DVASPECT,
            "Draw of the icon aspect");
    checkHr(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0), E_INVALIDARG,
            "Draw without bounds");
    SelectObject(dc, old);
  }
  if (bmp) DeleteObject(bmp);
  if (dc) DeleteDC(dc);
  SIZEL size{0, 0};
  checkHr(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK, "IViewObject2::GetExtent");
  check(size.cx == 3000 && size.cy == 1500, "the view has the object's extent");
  view->Release();
}

bool visible(HWND w) {
  return (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0;
}

void testInPlace(IOleObject* o, Site& site) {
  IOleInPlaceObject* ip = query<IOleInPlaceObject>(o, IID_IOleInPlaceObject, "IOleInPlaceObject");
  IOleControl* ctl = query<IOleControl>(o, IID_IOleControl, "IOleControl");
  if (!ip || !ctl) return;
  CONTROLINFO info;
  std::memset(&info, 0xAB, sizeof info);
  info.cb = sizeof info;
  checkHr(ctl->GetControlInfo(&info), S_OK, "GetControlInfo");
  check(info.cAccel == 0 && info.hAccel == nullptr, "no mnemonics");
  checkHr(ctl->FreezeEvents(TRUE), S_OK, "FreezeEvents");
  checkHr(ctl->FreezeEvents(FALSE), S_OK, "FreezeEvents off");

  HWND w = nullptr;
  checkHr(ip->GetWindow(&w), E_FAIL, "no window before activation");
  checkHr(o->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr), E_UNEXPECTED,
          "activation without a site");

  // Design mode: the control shows where the site put it.
  site.userMode = false;
  checkHr(o->SetClientSite(&site), S_OK, "SetClientSite (design mode)");
  RECT at{5, 6, 85, 46};
  checkHr(o->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, &at), S_OK, "in-place activation");
  check(site.activated == 1, "the site is told of the activation");
  checkHr(ip->GetWindow(&w), S_OK, "GetWindow");
  check(w && IsWindow(w) && GetParent(w) == site.window, "a child window of the site's window");
  if (w) {
    check(visible(w), "shown in design mode");
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, site.window, reinterpret_cast<POINT*>(&r), 2);
    check(r.left == 5 && r.top == 6 && r.right == 85 && r.bottom == 46, "at the position asked for");
    RECT moved{0, 0, 30, 20};
    checkHr(ip->SetObjectRects(&moved, &moved), S_OK, "SetObjectRects");
    GetWindowRect(w, &r);
    check(r.right - r.left == 30 && r.bottom - r.top == 20, "the window follows SetObjectRects");
    // The host goes to run mode: the control is invisible at run time.
    site.userMode = true;
    checkHr(ctl->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK, "OnAmbientPropertyChange");
    check(!visible(w), "hidden in run mode");
  }
  checkHr(o->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, site.window, nullptr), S_OK,
          "UI activation of an active control");
  check(site.activated == 1, "activating an active control does not activate it again");
  checkHr(ip->InPlaceDeactivate(), S_OK, "InPlaceDeactivate");
  check(site.deactivated == 1, "the site is told of the deactivation");
  check(!w || !IsWindow(w), "the window is gone");
  checkHr(ip->GetWindow(&w), E_FAIL, "no window after deactivation");

  // Run mode from the start: active, but never shown.
  checkHr(o->SetClientSite(&site), S_OK, "SetClientSite (run mode)");
  checkHr(o->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, site.window, nullptr), S_OK, "show in run mode");
  checkHr(ip->GetWindow(&w), S_OK, "GetWindow in run mode");
  check(w && !visible(w), "not shown in run mode");
  checkHr(o->DoVerb(-42, nullptr, &site, 0, site.window, nullptr), E_NOTIMPL, "an unknown negative verb");
  checkHr(o->DoVerb(7, nullptr, &site, 0, site.window, nullptr), OLEOBJ_S_INVALIDVERB, "an unknown positive verb");

  // A site that refuses in-place activation gets no window.
  checkHr(o->Close(OLECLOSE_NOSAVE), S_OK, "Close");
  check(site.deactivated == 2, "Close deactivates");
  site.canActivate = false;
  check(FAILED(o->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, nullptr)),
        "activation refused by the site");
  checkHr(ip->GetWindow(&w), E_FAIL, "no window when the site refuses");
  site.canActivate = true;
  checkHr(o->SetClientSite(nullptr), S_OK, "SetClientSite(null)");
  ip->Release();
  ctl->Release();
}

void testConnectionPoints(IUnknown* control) {
  IConnectionPointContainer* cpc =
      query<IConnectionPointContainer>(control, IID_IConnectionPointContainer, "IConnectionPointContainer");
  if (!cpc) return;
  IConnectionPoint* cp = nullptr;
  checkHr(cpc->FindConnectionPoint(kEventsIid, &cp), S_OK, "FindConnectionPoint(_DTarvionEvents)");
  IConnectionPoint* other = nullptr;
  checkHr(cpc->FindConnectionPoint(IID_IPropertyNotifySink, &other), S_OK, "FindConnectionPoint(property changes)");
  if (other) other->Release();
  checkHr(cpc->FindConnectionPoint(IID_IDispatch, &other), CONNECT_E_NOCONNECTION, "no connection point for IDispatch");

  IEnumConnectionPoints* points = nullptr;
  checkHr(cpc->EnumConnectionPoints(&points), S_OK, "EnumConnectionPoints");
  if (points) {
    IConnectionPoint* got[4] = {};
    ULONG n = 0;
    points->Next(4, got, &n);
    check(n == 2, "two connection points");
    for (ULONG i = 0; i < n; ++i) got[i]->Release();
    points->Release();
  }
  if (!cp) {
    cpc->Release();
    return;
  }
  IID iid = GUID_NULL;
  checkHr(cp->GetConnectionInterface(&iid), S_OK, "GetConnectionInterface");
  check(iid == kEventsIid, "the events interface");
  IConnectionPointContainer* back = nullptr;
  checkHr(cp->GetConnectionPointContainer(&back), S_OK, "GetConnectionPointContainer");
  check(back && identity(back) == identity(control), "the container is the control");
  if (back) back->Release();

  Sink events(Sink::kEvents), dispatchOnly(Sink::kDispatchOnly), nothing(Sink::kNothing);
  DWORD c1 = 0, c2 = 0, c3 = 0;
  checkHr(cp->Advise(&events, &c1), S_OK, "Advise an events sink");
  checkHr(cp->Advise(&dispatchOnly, &c2), S_OK, "Advise a sink that answers IDispatch only");
  checkHr(cp->Advise(&nothing, &c3), CONNECT_E_CANNOTCONNECT, "Advise a sink of neither");
  check(c1 && c2 && c1 != c2 && c3 == 0, "distinct cookies");
  check(events.refs == 2 && dispatchOnly.refs == 2 && nothing.refs == 1, "the control holds each sink once");
  IEnumConnections* conns = nullptr;
  checkHr(cp->EnumConnections(&conns), S_OK, "EnumConnections");
  if (conns) {
    CONNECTDATA cd[3] = {};
    ULONG n = 0;
    conns->Next(3, cd, &n);
    check(n == 2 && cd[0].dwCookie == c1 && cd[1].dwCookie == c2, "both connections listed");
    for (ULONG i = 0; i < n; ++i) cd[i].pUnk->Release();
    conns->Release();
  }
  checkHr(cp->Unadvise(c1), S_OK, "Unadvise");
  checkHr(cp->Unadvise(c1), CONNECT_E_NOCONNECTION, "Unadvise twice");
  checkHr(cp->Unadvise(0), CONNECT_E_NOCONNECTION, "Unadvise of cookie 0");
  check(events.refs == 1, "the sink is let go");
  DWORD again = 0;
  checkHr(cp->Advise(&events, &again), S_OK, "Advise after Unadvise");
  check(again == c1, "the freed cookie is reused");

  // The connection point keeps the control alive: release the control first.
  cpc->Release();
  control->Release();
  checkHr(cp->Unadvise(c2), S_OK, "Unadvise through a connection point that outlived the host's references");
  cp->Release();  // the last reference: the control goes, and lets go of its sinks
  check(events.refs == 1 && dispatchOnly.refs == 1, "every sink let go with the control");
}

// The property page as a property frame shows it: a child dialog of the frame.
void testPropertyPage(IUnknown* control, HWND frame) {
  IPropertyPage* page = nullptr;
  checkHr(CoCreateInstance(kPropPageClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                           reinterpret_cast<void**>(&page)),
          S_OK, "CoCreateInstance(property page)");
  if (!page) return;
  checkHr(page->SetObjects(1, &control), S_OK, "SetObjects");
  RECT at{4, 4, 204, 104};
  checkHr(page->Activate(frame, &at, FALSE), S_OK, "Activate");
  HWND dialog = GetWindow(frame, GW_CHILD);
  check(dialog != nullptr && (GetWindowLongW(dialog, GWL_STYLE) & WS_CHILD), "the page is a child dialog");
  checkHr(page->Activate(frame, &at, FALSE), E_UNEXPECTED, "Activate twice");
  checkHr(page->Show(SW_SHOW), S_OK, "Show");
  check(dialog && visible(dialog), "shown");
  RECT moved{0, 0, 150, 60};
  checkHr(page->Move(&moved), S_OK, "Move");
  RECT r{};
  if (dialog) GetWindowRect(dialog, &r);
  check(r.right - r.left == 150 && r.bottom - r.top == 60, "moved and sized");
  checkHr(page->Apply(), S_OK, "Apply");
  checkHr(page->Deactivate(), S_OK, "Deactivate");
  check(!dialog || !IsWindow(dialog), "the dialog is gone");
  checkHr(page->Show(SW_SHOW), E_UNEXPECTED, "Show after Deactivate");
  checkHr(page->SetObjects(0, nullptr), S_OK, "SetObjects(none)");
  page->Release();
}

}  // namespace

int runContainer() {
  HWND host =
      CreateWindowExW(0, L"STATIC", L"form", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
  check(host != nullptr, "the host's window (wine needs a display driver)");
  IUnknown* control = nullptr;
  checkHr(
      CoCreateInstance(kControlClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&control)),
      S_OK, "CoCreateInstance(IUnknown)");
  if (!control || !host) return report();
  IOleObject* o = query<IOleObject>(control, IID_IOleObject, "IOleObject");
  IDispatch* d = query<IDispatch>(control, IID_IDispatch, "IDispatch");
  check(o && d && identity(o) == identity(d), "one object behind every interface");
  if (o && d) {
    // Dispatch calls work before any site or activation.
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"ExisteECF");
    checkHr(d->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK, "GetIDsOfNames(ExisteECF)");
    VARIANT arg, r;
    VariantInit(&arg);
    VariantInit(&r);
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = SysAllocString(L"DARUMA FS600");
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    checkHr(d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &r, nullptr, nullptr), S_OK,
            "ExisteECF on a control never activated");
    check(V_VT(&r) == VT_I4 && V_I4(&r) == 13, "it answers 13");
    VariantClear(&arg);

    testObject(o);
    testPersistence(control);
    testDrawing(control);
    testPropertyPage(control, host);
    Site site;
    site.window = host;
    testInPlace(o, site);
    check(site.refs == 1, "the site is let go after SetClientSite(null)");
    // A site still set when the host lets go of the control is released with it.
    checkHr(o->SetClientSite(&site), S_OK, "SetClientSite before the end");
    checkHr(o->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, host, nullptr), S_OK, "active at the end");
    o->Release();
    d->Release();
    testConnectionPoints(control);  // releases the control
    check(site.refs == 1 && site.deactivated == site.activated, "a destroyed control leaves its site");
  }
  DestroyWindow(host);
  return report();
}
