#include "control/com/embedding.h"

#include <cstring>
#include <string>

#include "control/com/com_ids.h"
#include "control/com/enumerator.h"
#include "control/com/module.h"
#include "control/com/resource.h"

namespace tarvion::com {
namespace {

constexpr const wchar_t* kWindowClass = L"TarvionControlWindow";
// A new control's size: 100 x 50 pixels at 96 dots per inch, in HIMETRIC.
constexpr LONG kDefaultWidth = 100 * 2540 / 96, kDefaultHeight = 50 * 2540 / 96;
// The stream inside a storage that holds what the stream form holds.
constexpr const wchar_t* kContentsStream = L"Contents";

LRESULT CALLBACK controlWindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (HDC dc = BeginPaint(window, &ps)) {
        RECT client;
        GetClientRect(window, &client);
        drawControl(dc, client);
        EndPaint(window, &ps);
      }
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // painting covers the whole window
    default:
      return DefWindowProcW(window, msg, wp, lp);
  }
}

bool registerControlWindowClass() {
  WNDCLASSEXW wc;
  std::memset(&wc, 0, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &controlWindowProc;
  wc.hInstance = moduleInstance();
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The verbs the control offers on the host's menu.
struct VerbCopier {
  static HRESULT copy(OLEVERB& to, const OLEVERB& from) {
    to = from;
    to.lpszVerbName = nullptr;
    if (!from.lpszVerbName) return S_OK;
    const size_t bytes = (std::wcslen(from.lpszVerbName) + 1) * sizeof(wchar_t);
    to.lpszVerbName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!to.lpszVerbName) return E_OUTOFMEMORY;
    std::memcpy(to.lpszVerbName, from.lpszVerbName, bytes);
    return S_OK;
  }
  static void release(OLEVERB& verb) {
    CoTaskMemFree(verb.lpszVerbName);
    verb.lpszVerbName = nullptr;
  }
};
using VerbEnumerator = Enumerator<IEnumOLEVERB, OLEVERB, IID_IEnumOLEVERB, VerbCopier>;

struct ConnectionCopier {
  static HRESULT copy(CONNECTDATA& to, const CONNECTDATA& from) {
    to = from;
    if (to.pUnk) to.pUnk->AddRef();
    return S_OK;
  }
  static void release(CONNECTDATA& c) {
    if (c.pUnk) c.pUnk->Release();
    c.pUnk = nullptr;
  }
};
using ConnectionEnumerator = Enumerator<IEnumConnections, CONNECTDATA, IID_IEnumConnections, ConnectionCopier>;
using PointEnumerator =
    Enumerator<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints, InterfaceCopier<IConnectionPoint>>;

template <class T>
void releaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

}  // namespace

void drawControl(HDC dc, const RECT& rect) {
  FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  Ellipse(dc, rect.left, rect.top, rect.right, rect.bottom);
}

void unregisterControlWindowClass() {
  UnregisterClassW(kWindowClass, moduleInstance());
}

// ---------------------------------------------------------------- connection points

ConnectionPoint::~ConnectionPoint() {
  for (IUnknown*& sink : sinks_) releaseAndClear(sink);
}

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
  *out = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  *out = container_;
  container_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  IUnknown* kept = nullptr;
  // A sink of the event interface may answer only IDispatch: events of a
  // dispatch interface arrive through Invoke anyway.
  if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(&kept))) && iid_ == kEventsIid)
    sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&kept));
  if (!kept) return CONNECT_E_CANNOTCONNECT;
  try {
    size_t slot = 0;
    while (slot < sinks_.size() && sinks_[slot]) ++slot;
    if (slot == sinks_.size()) sinks_.push_back(nullptr);
    sinks_[slot] = kept;
    *cookie = static_cast<DWORD>(slot + 1);
    return S_OK;
  } catch (...) {
    kept->Release();
    return E_OUTOFMEMORY;
  }
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return CONNECT_E_NOCONNECTION;
  releaseAndClear(sinks_[cookie - 1]);
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** out) {
  try {
    std::vector<CONNECTDATA> live;
    for (size_t i = 0; i < sinks_.size(); ++i)
      if (sinks_[i]) live.push_back(CONNECTDATA{sinks_[i], static_cast<DWORD>(i + 1)});
    return ConnectionEnumerator::create(live, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

// ---------------------------------------------------------------- the embedded object

Embedding::Embedding(IUnknown* owner)
    : owner_(owner),
      extent_{kDefaultWidth, kDefaultHeight},
      events_(owner, this, kEventsIid),
      propertyNotify_(owner, this, IID_IPropertyNotifySink) {}

Embedding::~Embedding() {
  release();
}

void Embedding::release() {
  InPlaceDeactivate();
  releaseAndClear(viewSink_);
  releaseAndClear(adviseHolder_);
  releaseAndClear(site_);
}

void* Embedding::find(REFIID riid) {
  if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
  if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject) return static_cast<IOleInPlaceObject*>(this);
  if (riid == IID_IOleControl) return static_cast<IOleControl*>(this);
  if (riid == IID_IViewObject || riid == IID_IViewObject2) return static_cast<IViewObject2*>(this);
  // IPersistStreamInit begins with IPersistStream's methods, so it answers both.
  if (riid == IID_IPersist || riid == IID_IPersistStreamInit || riid == IID_IPersistStream)
    return static_cast<IPersistStreamInit*>(this);
  if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
  if (riid == IID_IPersistStorage) return static_cast<IPersistStorage*>(this);
  if (riid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
  return nullptr;
}

// ---------------------------------------------------------------- IOleObject

HRESULT Embedding::SetClientSite(IOleClientSite* site) {
  if (!site) InPlaceDeactivate();
  if (site) site->AddRef();
  releaseAndClear(site_);
  site_ = site;
  userMode_ = readUserMode();
  return S_OK;
}

HRESULT Embedding::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = site_;
  if (site_) site_->AddRef();
  return S_OK;
}

HRESULT Embedding::SetHostNames(LPCOLESTR, LPCOLESTR) {
  return S_OK;
}

HRESULT Embedding::Close(DWORD) {
  // Nothing of the control's own is ever unsaved, so every save option closes alike.
  InPlaceDeactivate();
  if (adviseHolder_) adviseHolder_->SendOnClose();
  return S_OK;
}

HRESULT Embedding::SetMoniker(DWORD, IMoniker*) {
  return E_NOTIMPL;
}

HRESULT Embedding::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT Embedding::InitFromData(IDataObject*, BOOL, DWORD) {
  return E_NOTIMPL;
}

HRESULT Embedding::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT Embedding::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) {
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      // The control has no user interface of its own to activate: every
      // activation is an in-place one.
      return activateInPlace(site ? site : site_, parent, position);
    case OLEIVERB_HIDE:
      if (window_) ShowWindow(window_, SW_HIDE);
      return S_OK;
    case OLEIVERB_PROPERTIES:
      return showProperties(parent);
    case OLEIVERB_DISCARDUNDOSTATE:
      return S_OK;
    default:
      break;
  }
  if (verb < 0) return E_NOTIMPL;
  // An unknown positive verb is taken as the primary one.
  HRESULT hr = activateInPlace(site ? site : site_, parent, position);
  return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
}

HRESULT Embedding::EnumVerbs(IEnumOLEVERB** verbs) {
  wchar_t name[] = L"&Properties...";
  const std::vector<OLEVERB> list = {
      OLEVERB{OLEIVERB_PROPERTIES, name, 0, OLEVERBATTRIB_ONCONTAINERMENU},
  };
  try {
    return VerbEnumerator::create(list, verbs);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Embedding::Update() {
  return S_OK;
}

HRESULT Embedding::IsUpToDate() {
  return S_OK;
}

HRESULT Embedding::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = kControlClsid;
  return S_OK;
}

HRESULT Embedding::GetUserType(DWORD, LPOLESTR* type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  try {
    const std::wstring name = moduleString(IDS_TARVION);
    if (name.empty()) return E_FAIL;
    const size_t bytes = (name.size() + 1) * sizeof(wchar_t);
    *type = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*type) return E_OUTOFMEMORY;
    std::memcpy(*type, name.c_str(), bytes);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Embedding::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
  extent_ = *size;
  return S_OK;
}

HRESULT Embedding::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

HRESULT Embedding::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!connection) return E_POINTER;
  *connection = 0;
  if (!sink) return E_INVALIDARG;
  if (!adviseHolder_) {
    HRESULT hr = CreateOleAdviseHolder(&adviseHolder_);
    if (FAILED(hr)) return hr;
  }
  return adviseHolder_->Advise(sink, connection);
}

HRESULT Embedding::Unadvise(DWORD connection) {
  if (!adviseHolder_) return OLE_E_NOCONNECTION;
  return adviseHolder_->Unadvise(connection);
}

HRESULT Embedding::EnumAdvise(IEnumSTATDATA** advise) {
  if (!advise) return E_POINTER;
  *advise = nullptr;
  if (!adviseHolder_) return S_OK;  // no connection yet: nothing to enumerate
  return adviseHolder_->EnumAdvise(advise);
}

HRESULT Embedding::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (!status) return E_POINTER;
  *status = aspect == DVASPECT_CONTENT ? kMiscStatus : 0;
  return S_OK;
}

HRESULT Embedding::SetColorScheme(LOGPALETTE*) {
  return E_NOTIMPL;
}

// ---------------------------------------------------------------- in-place activation

HRESULT Embedding::activateInPlace(IOleClientSite* site, HWND parent, LPCRECT position) {
  if (window_) {
    if (position) SetObjectRects(position, position);
    showWindowForMode();
    return S_OK;
  }
  if (!site) return E_UNEXPECTED;
  IOleInPlaceSite* ips = nullptr;
  if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&ips))) || !ips) return E_NOINTERFACE;
  if (ips->CanInPlaceActivate() != S_OK) {
    ips->Release();
    return E_FAIL;
  }
  HRESULT hr = ips->OnInPlaceActivate();
  if (FAILED(hr)) {
    ips->Release();
    return hr;
  }
  HWND host = nullptr;
  if (FAILED(ips->GetWindow(&host)) || !host) host = parent;
  RECT pos{}, clip{};
  OLEINPLACEFRAMEINFO frameInfo;
  std::memset(&frameInfo, 0, sizeof frameInfo);
  frameInfo.cb = sizeof frameInfo;
  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = nullptr;
  // The frame and the document window matter only to a control with menus
  // and tools of its own; this one has none.
  ips->GetWindowContext(&frame, &document, &pos, &clip, &frameInfo);
  releaseAndClear(frame);
  releaseAndClear(document);
  if (position) pos = *position;
  if (host && registerControlWindowClass())
    window_ = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS, pos.left, pos.top, pos.right - pos.left,
                              pos.bottom - pos.top, host, nullptr, moduleInstance(), nullptr);
  if (!window_) {
    ips->OnInPlaceDeactivate();
    ips->Release();
    return E_FAIL;
  }
  inPlaceSite_ = ips;
  showWindowForMode();
  return S_OK;
}

bool Embedding::readUserMode() const {
  if (!site_) return true;
  IDispatch* ambient = nullptr;
  if (FAILED(site_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient))) || !ambient) return true;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT v;
  VariantInit(&v);
  bool userMode = true;
  if (SUCCEEDED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &v,
                                nullptr, nullptr)) &&
      SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BOOL)))
    userMode = V_BOOL(&v) != VARIANT_FALSE;
  VariantClear(&v);
  ambient->Release();
  return userMode;
}

// Invisible at run time: the window shows only while the host designs.
void Embedding::showWindowForMode() {
  if (window_) ShowWindow(window_, userMode_ ? SW_HIDE : SW_SHOWNA);
}

HRESULT Embedding::showProperties(HWND parent) {
  if (!parent && inPlaceSite_) inPlaceSite_->GetWindow(&parent);
  IUnknown* objects[] = {owner_};
  CLSID pages[] = {kPropPageClsid};
  try {
    const std::wstring caption = moduleString(IDS_TARVION);
    return OleCreatePropertyFrame(parent, 0, 0, caption.c_str(), 1, objects, 1, pages, LOCALE_USER_DEFAULT, 0, nullptr);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Embedding::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = window_;
  return window_ ? S_OK : E_FAIL;
}

HRESULT Embedding::ContextSensitiveHelp(BOOL) {
  return E_NOTIMPL;
}

HRESULT Embedding::InPlaceDeactivate() {
  if (window_) DestroyWindow(window_);
  window_ = nullptr;
  if (inPlaceSite_) {
    IOleInPlaceSite* ips = inPlaceSite_;
    inPlaceSite_ = nullptr;
    ips->OnInPlaceDeactivate();
    ips->Release();
  }
  return S_OK;
}

HRESULT Embedding::UIDeactivate() {
  return S_OK;  // never UI-active
}

HRESULT Embedding::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  if (window_)
    MoveWindow(window_, position->left, position->top, position->right - position->left,
               position->bottom - position->top, TRUE);
  return S_OK;
}

HRESULT Embedding::ReactivateAndUndo() {
  return INPLACE_E_NOTUNDOABLE;
}

// ---------------------------------------------------------------- IOleControl

HRESULT Embedding::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  // No mnemonics, and Enter and Esc stay the host's.
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT Embedding::OnMnemonic(MSG*) {
  return E_NOTIMPL;
}

HRESULT Embedding::OnAmbientPropertyChange(DISPID id) {
  if (id == DISPID_AMBIENT_USERMODE || id == DISPID_UNKNOWN) {
    userMode_ = readUserMode();
    showWindowForMode();
  }
  return S_OK;
}

HRESULT Embedding::FreezeEvents(BOOL) {
  return S_OK;  // there are no events to hold back
}

// ---------------------------------------------------------------- IViewObject2

HRESULT Embedding::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                        BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc || !bounds) return E_INVALIDARG;
  const RECT rect{bounds->left, bounds->top, bounds->right, bounds->bottom};
  drawControl(dc, rect);
  return S_OK;
}

HRESULT Embedding::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
  if (!colors) return E_POINTER;
  *colors = nullptr;
  return S_FALSE;  // black and white need no palette
}

HRESULT Embedding::Freeze(DWORD, LONG, void*, DWORD* freeze) {
  if (freeze) *freeze = 0;
  return E_NOTIMPL;
}

HRESULT Embedding::Unfreeze(DWORD) {
  return E_NOTIMPL;
}

HRESULT Embedding::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  if (sink) sink->AddRef();
  releaseAndClear(viewSink_);
  viewSink_ = sink;
  viewAspects_ = aspects;
  viewFlags_ = flags;
  if (viewSink_ && (flags & ADVF_PRIMEFIRST)) viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
  return S_OK;
}

HRESULT Embedding::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewAspects_;
  if (flags) *flags = viewFlags_;
  if (sink) {
    *sink = viewSink_;
    if (viewSink_) viewSink_->AddRef();
  }
  return S_OK;
}

HRESULT Embedding::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// ---------------------------------------------------------------- persistence: the version stamp only

HRESULT Embedding::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = kControlClsid;
  return S_OK;
}

HRESULT Embedding::IsDirty() {
  return S_FALSE;  // nothing of the control's own can change
}

HRESULT Embedding::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  BYTE stamp[4];
  ULONG got = 0;
  HRESULT hr = stream->Read(stamp, sizeof stamp, &got);
  if (FAILED(hr)) return hr;
  // Any version is accepted: there is nothing else to read.
  return got == sizeof stamp ? S_OK : STG_E_READFAULT;
}

HRESULT Embedding::Save(IStream* stream, BOOL) {
  if (!stream) return E_POINTER;
  // Little-endian, as the stamp has always been stored.
  const BYTE stamp[4] = {static_cast<BYTE>(kPersistedVersion), static_cast<BYTE>(kPersistedVersion >> 8),
                         static_cast<BYTE>(kPersistedVersion >> 16), static_cast<BYTE>(kPersistedVersion >> 24)};
  ULONG put = 0;
  HRESULT hr = stream->Write(stamp, sizeof stamp, &put);
  if (FAILED(hr)) return hr;
  return put == sizeof stamp ? S_OK : STG_E_WRITEFAULT;
}

HRESULT Embedding::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 4;
  return S_OK;
}

HRESULT Embedding::InitNew() {
  return S_OK;
}

HRESULT Embedding::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  // A bag without the stamp (a form saved before the control was on it) is fine.
  bag->Read(kVersionProperty, &v, log);
  VariantClear(&v);
  return S_OK;
}

HRESULT Embedding::Save(IPropertyBag* bag, BOOL, BOOL) {
  if (!bag) return E_POINTER;
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = static_cast<LONG>(kPersistedVersion);
  return bag->Write(kVersionProperty, &v);
}

HRESULT Embedding::InitNew(IStorage* storage) {
  return storage ? S_OK : E_POINTER;
}

HRESULT Embedding::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  IStream* stream = nullptr;
  HRESULT hr = storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
  if (FAILED(hr)) return hr;
  hr = Load(stream);
  stream->Release();
  return hr;
}

HRESULT Embedding::Save(IStorage* storage, BOOL) {
  if (!storage) return E_POINTER;
  HRESULT hr = WriteClassStg(storage, kControlClsid);
  if (FAILED(hr)) return hr;
  IStream* stream = nullptr;
  hr = storage->CreateStream(kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
  if (FAILED(hr)) return hr;
  hr = Save(stream, TRUE);
  stream->Release();
  return hr;
}

HRESULT Embedding::SaveCompleted(IStorage*) {
  return S_OK;
}

HRESULT Embedding::HandsOffStorage() {
  return S_OK;
}

// ---------------------------------------------------------------- IConnectionPointContainer

HRESULT Embedding::EnumConnectionPoints(IEnumConnectionPoints** out) {
  try {
    const std::vector<IConnectionPoint*> points = {&events_, &propertyNotify_};
    return PointEnumerator::create(points, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Embedding::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ConnectionPoint* point = nullptr;
  if (riid == events_.iid())
    point = &events_;
  else if (riid == propertyNotify_.iid())
    point = &propertyNotify_;
  if (!point) return CONNECT_E_NOCONNECTION;
  *out = point;
  point->AddRef();
  return S_OK;
}

}  // namespace tarvion::com
