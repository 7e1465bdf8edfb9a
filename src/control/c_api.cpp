// The C interface: a handle wraps one control; every call runs one shell line.
// No exception may cross into a C caller, so each function catches them all.
#define TARVION_BUILDING 1
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "control/script.h"
#include "core/c_buffer.h"
#include "core/virtual_wire.h"
#include "tarvion/tarvion.h"
#include "tarvion/tarvion.hpp"

// The control's side of a device's wire during one callback.
struct tarvion_wire {
  tarvion::VirtualLink& link;
  std::weak_ptr<tarvion::VirtualDevice> device;
};

struct tarvion_control {
  tarvion::CTarvionCtrl ctrl;
  std::string lastOutput;
  int lastStatus = 0;
};

namespace {

using tarvion::copyOut;

// Numbers of the C header's enums, fixed there; the C++ enums may be reordered.
int cKind(tarvion::Kind k) {
  switch (k) {
    case tarvion::Kind::Method:
      return TARVION_KIND_METHOD;
    case tarvion::Kind::Get:
      return TARVION_KIND_GET;
    case tarvion::Kind::GetSet:
      return TARVION_KIND_GETSET;
  }
  return -1;
}

int cType(tarvion::Type t) {
  switch (t) {
    case tarvion::Type::Void:
      return TARVION_TYPE_VOID;
    case tarvion::Type::Bool:
      return TARVION_TYPE_BOOL;
    case tarvion::Type::Short:
      return TARVION_TYPE_SHORT;
    case tarvion::Type::Long:
      return TARVION_TYPE_LONG;
    case tarvion::Type::Double:
      return TARVION_TYPE_DOUBLE;
    case tarvion::Type::Date:
      return TARVION_TYPE_DATE;
    case tarvion::Type::String:
      return TARVION_TYPE_STRING;
  }
  return -1;
}

int cDir(tarvion::Dir d) {
  switch (d) {
    case tarvion::Dir::In:
      return TARVION_DIR_IN;
    case tarvion::Dir::Out:
      return TARVION_DIR_OUT;
    case tarvion::Dir::InOut:
      return TARVION_DIR_INOUT;
  }
  return -1;
}

int cForm(tarvion::TextForm f) {
  switch (f) {
    case tarvion::TextForm::Plain:
      return TARVION_FORM_PLAIN;
    case tarvion::TextForm::List:
      return TARVION_FORM_LIST;
    case tarvion::TextForm::Bytes:
      return TARVION_FORM_BYTES;
  }
  return -1;
}

const tarvion::EntryInfo* entryAt(int index) {
  size_t count = 0;
  const tarvion::EntryInfo* table = tarvion::entryTable(count);
  if (index < 0 || static_cast<size_t>(index) >= count) return nullptr;
  return &table[index];
}

// A device of the host's, seen by the drivers as the far end of a virtual wire.
class CallbackPeer final : public tarvion::VirtualPeer {
 public:
  explicit CallbackPeer(const tarvion_device& d) : d_(d), release_(d.release) { d_.release = nullptr; }
  ~CallbackPeer() override {
    if (d_.release) d_.release(d_.context);
  }
  // From here on the device is the library's to release.
  void take() { d_.release = release_; }
  CallbackPeer(const CallbackPeer&) = delete;
  CallbackPeer& operator=(const CallbackPeer&) = delete;

  void attach(const std::shared_ptr<tarvion::VirtualDevice>& device) { device_ = device; }
  void onOpen(tarvion::VirtualLink&) override {
    if (d_.opened) d_.opened(d_.context);
  }
  void onBytes(const uint8_t* data, size_t n, tarvion::VirtualLink& link) override {
    if (!d_.received) return;
    tarvion_wire wire{link, device_};
    d_.received(d_.context, data, n, &wire);
  }
  void onClose() override {
    if (d_.closed) d_.closed(d_.context);
  }

 private:
  tarvion_device d_;
  void(TARVION_CALL* release_)(void*);
  std::weak_ptr<tarvion::VirtualDevice> device_;
};

}  // namespace

extern "C" {

TARVION_API tarvion_control* TARVION_CALL tarvion_create(void) {
  try {
    return new tarvion_control();
  } catch (...) {
    return nullptr;
  }
}

TARVION_API void TARVION_CALL tarvion_destroy(tarvion_control* handle) {
  delete handle;
}

TARVION_API size_t TARVION_CALL tarvion_call(tarvion_control* handle, const char* line, int json, char* out,
                                             size_t outSize) {
  const bool asJson = json != 0;
  try {
    if (!handle) return copyOut(tarvion::script::formatError("", "no control (null handle)", asJson), out, outSize);
    tarvion::script::LineResult r = tarvion::script::runLine(handle->ctrl, line ? line : "", asJson);
    handle->lastStatus = r.parsed ? 0 : 2;
    handle->lastOutput = std::move(r.output);
    return copyOut(handle->lastOutput, out, outSize);
  } catch (...) {
    // Only running out of memory gets here; answer without allocating.
    if (handle) {
      handle->lastStatus = 2;
      handle->lastOutput.clear();
    }
    static const std::string_view kJson = "{\"entry\": \"\", \"error\": \"out of memory\"}";
    static const std::string_view kText = "error: out of memory";
    return copyOut(asJson ? kJson : kText, out, outSize);
  }
}

TARVION_API size_t TARVION_CALL tarvion_last_output(tarvion_control* handle, char* out, size_t outSize) {
  return copyOut(handle ? std::string_view(handle->lastOutput) : std::string_view(), out, outSize);
}

// A null handle has run nothing that could have succeeded.
TARVION_API int TARVION_CALL tarvion_last_status(tarvion_control* handle) {
  return handle ? handle->lastStatus : 2;
}

TARVION_API int TARVION_CALL tarvion_last_outcome(tarvion_control* handle) {
  return handle ? static_cast<int>(handle->ctrl.LastOutcome()) : TARVION_OUTCOME_DONE;
}

TARVION_API int TARVION_CALL tarvion_entry_count(void) {
  size_t count = 0;
  tarvion::entryTable(count);
  return static_cast<int>(count);
}

TARVION_API const char* TARVION_CALL tarvion_entry_name(int index) {
  const tarvion::EntryInfo* e = entryAt(index);
  return e ? e->name : nullptr;
}

TARVION_API int TARVION_CALL tarvion_entry_info(int index, int* kind, int* result) {
  const tarvion::EntryInfo* e = entryAt(index);
  if (!e) return -1;
  if (kind) *kind = cKind(e->kind);
  if (result) *result = cType(e->result);
  return e->paramCount;
}

TARVION_API const char* TARVION_CALL tarvion_entry_param(int index, int param, int* type, int* dir, int* form) {
  const tarvion::EntryInfo* e = entryAt(index);
  if (!e || param < 0 || param >= e->paramCount) return nullptr;
  const tarvion::ParamInfo& p = e->params[param];
  if (type) *type = cType(p.type);
  if (dir) *dir = cDir(p.dir);
  if (form) *form = cForm(p.form);
  return p.name;
}

TARVION_API int TARVION_CALL tarvion_attach_device(int port, const tarvion_device* device) {
  if (!device || device->size < sizeof(tarvion_device) || port < 1) return -1;
  try {
    auto peer = std::make_shared<CallbackPeer>(*device);
    auto wire = std::make_shared<tarvion::VirtualDevice>(peer);
    peer->attach(wire);
    tarvion::ports::attachVirtual(port, std::move(wire));
    peer->take();
    return 0;
  } catch (...) {
    // Out of memory before the device was taken: the caller still owns it.
    return -1;
  }
}

TARVION_API int TARVION_CALL tarvion_detach_device(int port) {
  try {
    if (!tarvion::ports::virtualAt(port)) return -1;
    tarvion::ports::detachVirtual(port);
    return 0;
  } catch (...) {
    return -1;
  }
}

TARVION_API void TARVION_CALL tarvion_wire_send(tarvion_wire* wire, const unsigned char* data, size_t size,
                                                unsigned delayMs) {
  if (!wire || (!data && size)) return;
  try {
    wire->link.send(tarvion::ByteArray(data, data + size), delayMs);
  } catch (...) {
    // Out of memory: the answer is lost, as on a line that drops bytes.
  }
}

TARVION_API long long TARVION_CALL tarvion_wire_now_us(tarvion_wire* wire) {
  return wire ? wire->link.nowUs() : 0;
}

TARVION_API void TARVION_CALL tarvion_wire_hang_up(tarvion_wire* wire) {
  if (!wire) return;
  if (auto d = wire->device.lock()) d->cut(true);
}

}  // extern "C"
