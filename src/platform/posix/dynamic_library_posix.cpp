#include <dlfcn.h>

#include <cstdlib>

#include "platform/dynamic_library.h"

namespace tarvion::platform {

DynamicLibrary::~DynamicLibrary() {
  close();
}

bool DynamicLibrary::open(const std::string& name, std::string* error) {
  close();
  handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_ && error) {
    const char* why = dlerror();
    *error = why ? why : name;
  }
  return handle_ != nullptr;
}

void DynamicLibrary::close() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
  if (!handle_) return nullptr;
  return dlsym(handle_, name);
}

std::string libraryFileName(const std::string& base) {
  return "lib" + base + ".so";
}

std::string commonFilesFolder() {
  // Only an absolute path counts, as the XDG rules say.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') return data;
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return std::string(home) + "/.local/share";
  return {};
}

}  // namespace tarvion::platform
