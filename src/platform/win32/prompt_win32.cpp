// The operator prompt without a host handler on Windows: a task-modal message
// box on the calling thread, as the operator at a till expects it.
#include <windows.h>

#include "platform/prompt.h"

namespace tarvion::platform {

PromptAnswer systemPrompt(const PromptRequest& request) {
  UINT style = MB_TASKMODAL | MB_SETFOREGROUND;
  switch (request.kind) {
    case PromptKind::OkCancel:
      style |= MB_OKCANCEL | MB_ICONEXCLAMATION;
      break;
    case PromptKind::YesNo:
      style |= MB_YESNO | MB_ICONQUESTION;
      break;
    default:
      style |= MB_OK | MB_ICONINFORMATION;
      break;
  }
  const int pressed = MessageBoxA(nullptr, request.message.c_str(), request.title.c_str(), style);
  switch (pressed) {
    case IDOK:
      return PromptAnswer::Ok;
    case IDYES:
      return PromptAnswer::Yes;
    case IDNO:
      return PromptAnswer::No;
    case IDCANCEL:
      return request.kind == PromptKind::Ok ? PromptAnswer::Ok : PromptAnswer::Cancel;
    default:
      return safeAnswer(request.kind);  // 0: the box could not be shown
  }
}

}  // namespace tarvion::platform
