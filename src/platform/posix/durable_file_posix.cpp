#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/durable_file.h"
#include "platform/platform.h"
#include "platform/posix/fd_io.h"

namespace tarvion::platform {

namespace {

void setError(std::string* error, const std::string& what) {
  if (error) *error = what;
}

std::string reason(int err) {
  return std::strerror(err);
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Keeps fd when it is a regular file; else closes it and says why.
bool regularOrClose(int fd, const std::string& path, std::string* error) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return true;
  ::close(fd);
  setError(error, path + " is not a regular file");
  return false;
}

}  // namespace

FileLock::~FileLock() {
  release();
}

bool FileLock::acquire(const std::string& path, std::string* error) {
  release();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    setError(error, errno == ELOOP ? path + " is a symbolic link" : "cannot open " + path + ": " + reason(errno));
    return false;
  }
  if (!regularOrClose(fd, path, error)) return false;
  // flock belongs to the open file: a second open of the same file, in this
  // process or another, is refused too.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    setError(error,
             err == EWOULDBLOCK ? path + " is locked by another program" : "cannot lock " + path + ": " + reason(err));
    return false;
  }
  handle_ = fd;
  return true;
}

void FileLock::release() {
  if (handle_ == kNone) return;
  ::close(static_cast<int>(handle_));  // closing drops the lock
  handle_ = kNone;
}

bool replaceFile(const std::string& path, std::string_view data, std::string* error, std::string* tempName) {
  // mkstemp makes the name unique and the file new (O_EXCL): nothing another
  // program left under a guessable name can redirect the write.
  std::string pattern = path + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    const int err = errno;
    setError(error, "cannot create a temporary file in " + folderOf(path) + ": " + reason(err));
    setLastError(err);
    return false;
  }
  const std::string tmp(name.data());
  if (tempName) *tempName = tmp;
  ::fchmod(fd, 0644);
  bool ok = posix::writeAll(fd, data);
  int err = ok ? 0 : errno;
  // On the disk before the rename, so the name never points at a half-written file.
  if (ok && ::fsync(fd) != 0) ok = false, err = errno;
  if (::close(fd) != 0 && ok) ok = false, err = errno;
  if (!ok) {
    ::unlink(tmp.c_str());
    setError(error, "cannot write " + tmp + ": " + reason(err ? err : EIO));
    setLastError(err ? err : EIO);
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    err = errno;
    ::unlink(tmp.c_str());
    setError(error, "cannot replace " + path + ": " + reason(err));
    setLastError(err);
    return false;
  }
  // The new name itself is made durable with the folder.
  const int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool readRegularFile(const std::string& path, std::string& out, std::string* error, bool* missing) {
  if (missing) *missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT && missing) *missing = true;
    setError(error, err == ELOOP ? path + " is a symbolic link" : "cannot read " + path + ": " + reason(err));
    return false;
  }
  if (!regularOrClose(fd, path, error)) return false;
  out.clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      setError(error, "cannot read " + path + ": " + reason(err));
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace tarvion::platform
