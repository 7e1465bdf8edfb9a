// Tarvion: drive Brazilian fiscal printers (ECF) and check printers through one
// control. Strings are UTF-8, dates are automation dates (days since
// 30 December 1899), BOOL results are ints: non-zero means success.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tarvion/entry.hpp"
#include "tarvion/tarvion.h"

namespace tarvion {

namespace detail {
struct ControlState;
}

class TARVION_CXX_API CTarvionCtrl {
 public:
  CTarvionCtrl();
  ~CTarvionCtrl();
  CTarvionCtrl(const CTarvionCtrl&) = delete;
  CTarvionCtrl& operator=(const CTarvionCtrl&) = delete;

  // Calls an entry (a method, or a property get) with UTF-8 strings. args must hold
  // one value per parameter; out parameters are written back into it. Never throws.
  Value Invoke(const EntryInfo& entry, std::vector<Value>& args);
  Value Invoke(int dispid, std::vector<Value>& args);
  // Sets a get/set property; false when the entry cannot be set.
  bool SetProperty(const EntryInfo& entry, const Value& value);

  // The same with Windows-1252 strings (for bindings that convert themselves).
  Value InvokeCp1252(const EntryInfo& entry, std::vector<Value>& args);
  bool SetPropertyCp1252(const EntryInfo& entry, const Value& value);

  detail::ControlState& state() { return *state_; }

  // What became of the printer command behind the last method's result (see
  // TARVION_OUTCOME_* in tarvion.h): only NotWritten and Refused leave the
  // printer as it was; MayHaveRun must never be retried blindly.
  enum class Outcome { Done = 0, NotWritten = 1, Refused = 2, MayHaveRun = 3 };
  Outcome LastOutcome() const;

  // Operator prompts ("Insira o cheque na impressora.", "Deseja continuar
  // esperando?"). One handler for the whole process, shared by every control:
  // drivers ask it from the calling thread while an operation waits for the
  // answer. Title and message are UTF-8. An empty handler restores the default:
  // a message box on Windows; on Linux a question on the controlling terminal
  // when standard input is one, else Cancel or No, so the operation fails safely.
  enum class PromptKind { Ok, OkCancel, YesNo };
  enum class PromptAnswer { Ok, Cancel, Yes, No };
  using PromptHandler =
      std::function<PromptAnswer(PromptKind kind, const std::string& title, const std::string& message)>;
  static void SetPromptHandler(PromptHandler handler);

  // One typed member per entry, generated from the entry table.
#include "tarvion/ctrl_methods.inc"

 private:
  std::unique_ptr<detail::ControlState> state_;
};

}  // namespace tarvion
