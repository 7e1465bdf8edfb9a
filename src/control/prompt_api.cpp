// The host's side of the operator prompts: CTarvionCtrl::SetPromptHandler puts
// a UTF-8 handler in front of the drivers' Windows-1252 prompt layer.
#include "core/text.h"
#include "platform/prompt.h"
#include "tarvion/tarvion.hpp"

namespace tarvion {

void CTarvionCtrl::SetPromptHandler(PromptHandler handler) {
  if (!handler) {
    platform::setPromptHandler(nullptr);
    return;
  }
  platform::setPromptHandler([handler = std::move(handler)](const platform::PromptRequest& r) {
    PromptKind kind = PromptKind::Ok;
    if (r.kind == platform::PromptKind::OkCancel) kind = PromptKind::OkCancel;
    if (r.kind == platform::PromptKind::YesNo) kind = PromptKind::YesNo;
    switch (handler(kind, text::cp1252ToUtf8(r.title), text::cp1252ToUtf8(r.message))) {
      case PromptAnswer::Ok:
        return platform::PromptAnswer::Ok;
      case PromptAnswer::Yes:
        return platform::PromptAnswer::Yes;
      case PromptAnswer::No:
        return platform::PromptAnswer::No;
      default:
        return platform::PromptAnswer::Cancel;
    }
  });
}

}  // namespace tarvion
