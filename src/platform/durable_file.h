// Files that must never be torn or shared: an exclusive lock held on a file
// for as long as a program uses it, and a whole-file replacement that is on
// disk before it takes the old file's name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvion::platform {

// An exclusive lock on a lock file, held until the object goes away. Another
// process (or another object of this one) that asks for the same file is told
// at once that it is taken; nothing waits.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens (creating it when missing) and locks path. Never follows a symbolic
  // link. False with the reason in error: in use, not a regular file, or the
  // system's message.
  bool acquire(const std::string& path, std::string* error = nullptr);
  void release();
  bool held() const { return handle_ != kNone; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;
};

// Writes data to a new file created exclusively under a unique name in the
// folder of path, flushes it to the disk, then renames it over path: path holds
// either the old content or the new one, whole. The temporary file is removed
// on any failure, and the system's code of the failure is left as the thread's
// last error (lastError()). tempName, when given, receives the name the
// temporary had.
bool replaceFile(const std::string& path, std::string_view data, std::string* error = nullptr,
                 std::string* tempName = nullptr);

// Reads a whole regular file without following a symbolic link. False with the
// reason when it is missing (missing set), a link, not a regular file or
// unreadable.
bool readRegularFile(const std::string& path, std::string& out, std::string* error = nullptr, bool* missing = nullptr);

}  // namespace tarvion::platform
