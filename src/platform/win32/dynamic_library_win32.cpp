#include <windows.h>

#include "platform/dynamic_library.h"

namespace tarvion::platform {

DynamicLibrary::~DynamicLibrary() {
  close();
}

bool DynamicLibrary::open(const std::string& name, std::string* error) {
  close();
  handle_ = reinterpret_cast<void*>(LoadLibraryA(name.c_str()));
  if (!handle_ && error) {
    // Appended piece by piece: the chained + makes GCC 12 see a false overlap on 32-bit builds.
    std::string m = "(";
    m += std::to_string(GetLastError());
    m += ")";
    m += name;
    *error = m;
  }
  return handle_ != nullptr;
}

void DynamicLibrary::close() {
  if (handle_) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
}

std::string libraryFileName(const std::string& base) {
  return base + ".dll";
}

std::string commonFilesFolder() {
  // CSIDL_PROGRAM_FILES_COMMON, asked of the shell's folder library, which is
  // loaded for this call only.
  constexpr int kCommonFiles = 0x2B;
  using GetFolderFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  HMODULE shell = LoadLibraryA("ShFolder.dll");
  if (!shell) return {};
  auto fn = reinterpret_cast<GetFolderFn>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathA")));
  char path[MAX_PATH + 1] = {};
  const bool ok = fn && fn(nullptr, kCommonFiles, nullptr, 0, path) == S_OK;
  FreeLibrary(shell);
  return ok ? std::string(path) : std::string();
}

}  // namespace tarvion::platform
