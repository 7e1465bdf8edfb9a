// The state file of a virtual printer: its FiscalState as JSON, versioned,
// checked field by field when read, written whole (a new file renamed over the
// old one) and locked while a printer uses it.
//
// A fiscal printer never resets its counters or its grand total by itself, so
// a file that cannot be trusted is refused with the file and the field named,
// never read as far as it goes nor replaced by a fresh state.
#pragma once

#include <memory>
#include <string>

#include "emulator/fiscal_core.h"

namespace tarvion::platform {
class FileLock;
}

namespace tarvion::emulator {

// The format of the file; a file of any other version is refused.
inline constexpr const char* kStateFormat = "tarvion-fiscal-state";
inline constexpr int kStateVersion = 2;

// The state as the file holds it (UTF-8 JSON; the printer's text is Windows-1252).
std::string stateToJson(const FiscalState& state);
// False with "field: why" in error (out untouched) for text that is not JSON,
// cut short, of another format or version, with a field missing, of the wrong
// type or out of range, or with a reference past a table.
bool stateFromJson(const std::string& text, FiscalState& out, std::string* error = nullptr);

class StateFile {
 public:
  explicit StateFile(std::string path);
  ~StateFile();
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;

  const std::string& path() const { return path_; }
  // The lock file that keeps a second printer away: next to the state file.
  std::string lockPath() const { return path_ + ".lock"; }

  // Before the first read: the folder must exist, the state file must not be a
  // symbolic link, and no other printer may hold it. Held until destruction.
  bool lock(std::string* error = nullptr);
  bool locked() const;

  enum class Read { Loaded, Missing, Refused };
  // Missing leaves out untouched; Refused says why (the file and the field) in error.
  Read read(FiscalState& out, std::string* error = nullptr) const;
  // Written whole or not at all; false with the reason.
  bool write(const FiscalState& state, std::string* error = nullptr) const;

 private:
  std::string path_;
  std::unique_ptr<platform::FileLock> lock_;
};

}  // namespace tarvion::emulator
