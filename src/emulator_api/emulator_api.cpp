// libtarvion-emulator's C entry point: a virtual printer behind a port of the
// libtarvion the host loaded. The printer is this library's; the wire to the
// drivers is libtarvion's, reached only through its device callbacks, so the
// control's port table is never duplicated here.
#define TARVION_EMULATOR_BUILDING 1
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/c_buffer.h"
#include "emulator/printers.h"
#include "emulator/virtual_printer.h"
#include "tarvion/emulator.h"

namespace {

using tarvion::emulator::VirtualPrinter;

using tarvion::copyOut;

// The printers this library put on ports, for their paper and their detaching.
std::mutex gMutex;
std::map<int, std::weak_ptr<VirtualPrinter>>& attached() {
  static std::map<int, std::weak_ptr<VirtualPrinter>> m;
  return m;
}

// The printer's answers, onto libtarvion's wire.
class WireSink final : public tarvion::emulator::ReplySink {
 public:
  explicit WireSink(tarvion_wire* w) : wire_(w) {}
  void send(const tarvion::ByteArray& bytes, uint32_t delayMs) override {
    tarvion_wire_send(wire_, bytes.data(), bytes.size(), delayMs);
  }
  int64_t nowUs() override { return tarvion_wire_now_us(wire_); }
  void hangUp() override { tarvion_wire_hang_up(wire_); }

 private:
  tarvion_wire* wire_;
};

// The device's context: the printer, kept alive until libtarvion lets it go.
using Holder = std::shared_ptr<VirtualPrinter>;

VirtualPrinter& printerOf(void* context) {
  return **static_cast<Holder*>(context);
}

// No exception may cross into libtarvion; a printer that fails a command this
// way simply does not answer it, which the driver reports as a time-out.
void TARVION_CALL opened(void* context) {
  try {
    printerOf(context).lineOpened();
  } catch (...) {
  }
}

void TARVION_CALL received(void* context, const unsigned char* data, size_t size, tarvion_wire* wire) {
  try {
    WireSink sink(wire);
    printerOf(context).receive(data, size, sink);
  } catch (...) {
  }
}

void TARVION_CALL closed(void* context) {
  try {
    printerOf(context).lineClosed();
  } catch (...) {
  }
}

void TARVION_CALL release(void* context) {
  delete static_cast<Holder*>(context);
}

}  // namespace

extern "C" {

TARVION_EMULATOR_API int TARVION_CALL tarvion_emulator_attach(int port, int model, const char* state_path,
                                                              const char* paper_path, char* error, size_t error_size) {
  try {
    if (port < 1) {
      copyOut("port " + std::to_string(port) + ": port numbers start at 1", error, error_size);
      return -1;
    }
    std::string why;
    auto printer =
        tarvion::emulator::makePrinter(model, state_path ? state_path : "", paper_path ? paper_path : "", &why);
    if (!printer) {
      copyOut(why, error, error_size);
      return -1;
    }
    if (const char* mode = std::getenv(tarvion::emulator::kCheckDocumentVariable);
        mode && !printer->setCheckDocument(mode, &why)) {
      copyOut(std::string(tarvion::emulator::kCheckDocumentVariable) + ": " + why, error, error_size);
      return -1;
    }
    auto holder = std::make_unique<Holder>(printer);
    tarvion_device device{};
    device.size = sizeof device;
    device.context = holder.get();
    device.opened = opened;
    device.received = received;
    device.closed = closed;
    device.release = release;
    std::lock_guard<std::mutex> g(gMutex);
    if (tarvion_attach_device(port, &device) != 0) {
      copyOut("port " + std::to_string(port) + ": the printer could not be attached", error, error_size);
      return -1;
    }
    holder.release();  // libtarvion frees it through release()
    attached()[port] = printer;
    copyOut("", error, error_size);
    return 0;
  } catch (...) {
    copyOut("out of memory", error, error_size);
    return -1;
  }
}

TARVION_EMULATOR_API int TARVION_CALL tarvion_emulator_detach(int port) {
  try {
    std::lock_guard<std::mutex> g(gMutex);
    auto it = attached().find(port);
    if (it == attached().end()) return -1;
    // A printer already gone was replaced by another device, which stays.
    const bool ours = !it->second.expired();
    attached().erase(it);
    if (!ours) return -1;
    tarvion_detach_device(port);
    return 0;
  } catch (...) {
    return -1;
  }
}

TARVION_EMULATOR_API size_t TARVION_CALL tarvion_emulator_paper(int port, char* out, size_t size) {
  try {
    std::shared_ptr<VirtualPrinter> printer;
    {
      std::lock_guard<std::mutex> g(gMutex);
      auto it = attached().find(port);
      if (it != attached().end()) printer = it->second.lock();
    }
    return copyOut(printer ? printer->printedPaper() : std::string(), out, size);
  } catch (...) {
    return copyOut("", out, size);
  }
}

TARVION_EMULATOR_API int TARVION_CALL tarvion_emulator_model(const char* name) {
  try {
    return name ? tarvion::emulator::virtualModelNumber(name) : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
