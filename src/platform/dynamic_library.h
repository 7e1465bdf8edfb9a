// A shared library loaded at run time and the functions it exports: dlopen and
// dlsym on POSIX, LoadLibrary and GetProcAddress on Windows. The library stays
// loaded for as long as the object lives.
#pragma once

#include <string>

namespace tarvion::platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the library by its file name or path. False with the system's reason
  // in error when it cannot be loaded.
  bool open(const std::string& name, std::string* error = nullptr);
  void close();
  bool loaded() const { return handle_ != nullptr; }
  // The address of an exported function; null when the library lacks it.
  void* symbol(const char* name) const;
  // A function pointer of the given type; null when missing.
  template <class Fn>
  Fn function(const char* name) const {
    return reinterpret_cast<Fn>(symbol(name));
  }

 private:
  void* handle_ = nullptr;
};

// The file name the system gives a library of this base name:
// "InterfaceEpson" is "InterfaceEpson.dll" on Windows, "libInterfaceEpson.so"
// elsewhere.
std::string libraryFileName(const std::string& base);

// The folder where programs keep the files they share with each other: the
// common program files folder of the shell on Windows (asked of ShFolder.dll,
// loaded for the call only); elsewhere the user's data folder ($XDG_DATA_HOME,
// else ~/.local/share). No separator at the end; empty when there is none.
std::string commonFilesFolder();

}  // namespace tarvion::platform
