// One enumerator for the IEnumXxx interfaces the control hands out (connection
// points, connections, verbs). Each keeps its own copy of the items; a Copier
// says how an item is handed to the caller (AddRef, string copy) and how a kept
// item is let go.
#pragma once

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
// clang-format on

#include <new>
#include <utility>
#include <vector>

#include "control/com/com_object.h"

namespace tarvion::com {

// Items that are interface pointers: the caller gets its own reference.
template <class T>
struct InterfaceCopier {
  static HRESULT copy(T*& to, T* const& from) {
    to = from;
    if (to) to->AddRef();
    return S_OK;
  }
  static void release(T*& item) {
    if (item) item->Release();
    item = nullptr;
  }
};

template <class IEnum, class Item, const IID& kIid, class Copier>
class Enumerator final : public SingleInterfaceObject<IEnum, kIid> {
 public:
  // Takes a copy of each item (through Copier::copy).
  static HRESULT create(const std::vector<Item>& items, IEnum** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* e = new (std::nothrow) Enumerator();
    if (!e) return E_OUTOFMEMORY;
    for (const Item& item : items) {
      Item kept{};
      HRESULT hr = Copier::copy(kept, item);
      if (FAILED(hr)) {
        e->Release();
        return hr;
      }
      try {
        e->items_.push_back(kept);
      } catch (...) {
        Copier::release(kept);
        e->Release();
        return E_OUTOFMEMORY;
      }
    }
    *out = e;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (count && !out) return E_POINTER;
    // Without a count to report, only one item may be asked for at a time.
    if (!fetched && count > 1) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && next_ < items_.size()) {
      HRESULT hr = Copier::copy(out[n], items_[next_]);
      if (FAILED(hr)) {
        for (ULONG i = 0; i < n; ++i) Copier::release(out[i]);
        return hr;
      }
      ++n;
      ++next_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = items_.size() - next_;
    if (count > left) {
      next_ = items_.size();
      return S_FALSE;
    }
    next_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnum** out) override {
    HRESULT hr = create(items_, out);
    if (SUCCEEDED(hr)) static_cast<Enumerator*>(*out)->next_ = next_;
    return hr;
  }

 private:
  Enumerator() = default;
  ~Enumerator() override {
    for (Item& item : items_) Copier::release(item);
  }

  std::vector<Item> items_;
  size_t next_ = 0;
};

}  // namespace tarvion::com
