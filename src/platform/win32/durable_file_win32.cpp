#include <windows.h>

#include <string>

#include "platform/durable_file.h"
#include "platform/platform.h"

namespace tarvion::platform {

namespace {

void setError(std::string* error, const std::string& what) {
  if (error) *error = what;
}

std::string reason(DWORD err) {
  return systemErrorText(static_cast<int>(err));
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool isLink(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

FileLock::~FileLock() {
  release();
}

bool FileLock::acquire(const std::string& path, std::string* error) {
  release();
  if (isLink(path)) {
    setError(error, path + " is a symbolic link");
    return false;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    setError(error, "cannot open " + path + ": " + reason(GetLastError()));
    return false;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    setError(error, path + " is not a regular file");
    return false;
  }
  OVERLAPPED ov{};
  // The lock belongs to the handle: a second handle on the same file, in this
  // process or another, is refused too.
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
    const DWORD err = GetLastError();
    CloseHandle(h);
    setError(error, err == ERROR_LOCK_VIOLATION ? path + " is locked by another program"
                                                : "cannot lock " + path + ": " + reason(err));
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

void FileLock::release() {
  if (handle_ == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing drops the lock
  handle_ = kNone;
}

bool replaceFile(const std::string& path, std::string_view data, std::string* error, std::string* tempName) {
  // A new file (CREATE_NEW) under a name nobody can guess in advance: nothing
  // another program left there can redirect the write.
  HANDLE h = INVALID_HANDLE_VALUE;
  std::string tmp;
  DWORD err = 0;
  for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const unsigned long long mix = static_cast<unsigned long long>(now.QuadPart) * 6364136223846793005ull +
                                   GetCurrentProcessId() * 1442695040888963407ull + attempt;
    char suffix[24];
    wsprintfA(suffix, ".%08lx%04x", static_cast<unsigned long>(mix >> 16), static_cast<unsigned>(attempt));
    tmp = path + suffix;
    h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      err = GetLastError();
      if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
    }
  }
  if (h == INVALID_HANDLE_VALUE) {
    setError(error, "cannot create a temporary file in " + folderOf(path) + ": " + reason(err));
    SetLastError(err);
    return false;
  }
  if (tempName) *tempName = tmp;
  bool ok = true;
  size_t done = 0;
  while (ok && done < data.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(data.size() - done > 1u << 20 ? 1u << 20 : data.size() - done);
    ok = WriteFile(h, data.data() + done, chunk, &n, nullptr) && n > 0;
    done += n;
  }
  // On the disk before the rename, so the name never points at a half-written file.
  if (ok) ok = FlushFileBuffers(h) != 0;
  if (!ok) err = GetLastError();
  CloseHandle(h);
  if (!ok) {
    DeleteFileA(tmp.c_str());
    setError(error, "cannot write " + tmp + ": " + reason(err));
    SetLastError(err);
    return false;
  }
  if (!MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    err = GetLastError();
    DeleteFileA(tmp.c_str());
    setError(error, "cannot replace " + path + ": " + reason(err));
    SetLastError(err);
    return false;
  }
  return true;
}

bool readRegularFile(const std::string& path, std::string& out, std::string* error, bool* missing) {
  if (missing) *missing = false;
  if (isLink(path)) {
    setError(error, path + " is a symbolic link");
    return false;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if ((err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) && missing) *missing = true;
    setError(error, "cannot read " + path + ": " + reason(err));
    return false;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    setError(error, path + " is not a regular file");
    return false;
  }
  out.clear();
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
      const DWORD err = GetLastError();
      CloseHandle(h);
      setError(error, "cannot read " + path + ": " + reason(err));
      return false;
    }
    if (n == 0) break;
    out.append(buf, n);
  }
  CloseHandle(h);
  return true;
}

}  // namespace tarvion::platform
