// The per-user key store on POSIX: one folder per key under the user's
// configuration folder, the key's values in the file "@values" of that folder.
// Readers never lock: the file they open is always a complete one, because a
// writer only ever renames a finished, flushed file over it.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/text.h"
#include "platform/keystore.h"
#include "platform/posix/fd_io.h"

namespace tarvion::platform {

namespace {

constexpr const char* kValuesFile = "@values";
constexpr const char* kLockFile = "@lock";
constexpr const char* kTempPrefix = "@values.tmp.";
constexpr const char* kHeader = "# tarvion key store: name=value per line, UTF-8, escapes \\\\ \\= \\xHH\n";

void (*gBeforeRename)() = nullptr;

std::string homeDir() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return home;
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir) return found->pw_dir;
  return {};
}

// $XDG_CONFIG_HOME/tarvion, else ~/.config/tarvion; a relative XDG_CONFIG_HOME
// is ignored, as the XDG rules ask. Empty when there is no home at all.
std::string storeRoot() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/tarvion";
  const std::string home = homeDir();
  if (home.empty()) return {};
  return home + "/.config/tarvion";
}

bool safeNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '-' ||
         c == '_' || c == '.' || c == ',' || c == '(' || c == ')' || c == '+';
}

// A key name as a folder name: never "." or "..", never starting with "@" (our
// own files) or a dot, no slash, nothing a shell or another system trips over.
std::string folderName(const std::string& key) {
  std::string out;
  for (size_t i = 0; i < key.size(); ++i) {
    const auto c = static_cast<unsigned char>(key[i]);
    if (safeNameByte(c) && !(i == 0 && c == '.'))
      out += static_cast<char>(c);
    else
      out += text::format("%%%02X", c);
  }
  return out;
}

// The folder of a key path; empty when there is no store root or no key.
std::string keyFolder(const std::string& keyPath) {
  const std::string root = storeRoot();
  if (root.empty()) return {};
  std::string folder = root;
  size_t parts = 0;
  size_t start = 0;
  while (start <= keyPath.size()) {
    size_t end = keyPath.find('\\', start);
    if (end == std::string::npos) end = keyPath.size();
    if (end > start) {
      // Appended in two steps: GCC 12 mistakes `"/" + temporary` for an
      // overlapping copy at -O3 and stops a -Werror build.
      folder += '/';
      folder += folderName(keyPath.substr(start, end - start));
      ++parts;
    }
    start = end + 1;
  }
  return parts ? folder : std::string();
}

bool makeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = slash == std::string::npos ? path : path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- the file's text ----

std::string escaped(const std::string& cp1252, bool isName) {
  std::string out;
  for (char ch : cp1252) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\')
      out += "\\\\";
    else if (c == '=' && isName)
      out += "\\=";
    else if (c < 0x20 || c == 0x7F)
      out += text::format("\\x%02X", c);
    else
      out += text::cp1252ToUtf8(std::string_view(&ch, 1));
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads text up to an unescaped '=' (a name, when stopAtEquals) or to the end,
// from position i; plain text is UTF-8, escaped bytes are taken as they are.
std::string unescaped(const std::string& line, size_t& i, bool stopAtEquals) {
  std::string out, plain;
  auto flush = [&] {
    out += text::utf8ToCp1252(plain);
    plain.clear();
  };
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '=' && stopAtEquals) break;
    if (c != '\\' || i + 1 >= line.size()) {
      plain += c;
      continue;
    }
    const char e = line[i + 1];
    if (e == '\\' || e == '=') {
      flush();
      out += e;
      ++i;
    } else if (e == 'x' && i + 3 < line.size() && hexDigit(line[i + 2]) >= 0 && hexDigit(line[i + 3]) >= 0) {
      flush();
      out += static_cast<char>(hexDigit(line[i + 2]) * 16 + hexDigit(line[i + 3]));
      i += 3;
    } else {
      plain += c;
    }
  }
  flush();
  return out;
}

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries parse(const std::string& contents) {
  Entries entries;
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    const std::string line = contents.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t i = 0;
    std::string name = unescaped(line, i, true);
    if (i >= line.size()) continue;  // no '=': not a value line
    ++i;
    std::string value = unescaped(line, i, false);
    entries.emplace_back(std::move(name), std::move(value));
  }
  return entries;
}

bool readWhole(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  out.clear();
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      ::close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool sameName(const std::string& a, const std::string& b) {
  return text::upper(a) == text::upper(b);
}

// What a writer that died before its rename left behind. Only called under the
// lock, so no living writer is still filling one of these.
void removeLeftovers(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const std::string prefix = kTempPrefix;
  while (struct dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) == 0) ::unlink((folder + "/" + name).c_str());
  }
  ::closedir(dir);
}

// Writes the entries to a new file and renames it over the old one.
bool replaceValues(const std::string& folder, const Entries& entries) {
  std::string contents = kHeader;
  for (const auto& [name, value] : entries) contents += escaped(name, true) + "=" + escaped(value, false) + "\n";
  std::string temp = folder + "/" + kTempPrefix + "XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0 && posix::writeAll(fd, contents) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && gBeforeRename) gBeforeRename();
  ok = ok && ::rename(temp.c_str(), (folder + "/" + kValuesFile).c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself is only durable once the folder is on disk.
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace

std::string keyValueFile(const std::string& keyPath) {
  const std::string folder = keyFolder(keyPath);
  return folder.empty() ? std::string() : folder + "/" + kValuesFile;
}

bool readKeyValue(const std::string& keyPath, const std::string& valueName, std::string& value) {
  const std::string file = keyValueFile(keyPath);
  std::string contents;
  if (file.empty() || !readWhole(file, contents)) return false;
  for (const auto& [name, v] : parse(contents)) {
    if (sameName(name, valueName)) {
      value = v;
      return true;
    }
  }
  return false;
}

bool writeKeyValue(const std::string& keyPath, const std::string& valueName, const std::string& value) {
  const std::string folder = keyFolder(keyPath);
  if (folder.empty() || !makeFolders(folder)) return false;
  const int lock = ::open((folder + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock < 0) return false;
  while (::flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(lock);
      return false;
    }
  }
  removeLeftovers(folder);
  Entries entries;
  std::string contents;
  const std::string file = folder + "/" + kValuesFile;
  if (readWhole(file, contents)) {
    entries = parse(contents);
  } else if (errno != ENOENT) {
    // Unreadable, not missing: rewriting it would lose the other values.
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return false;
  }
  bool found = false;
  for (auto& entry : entries) {
    if (sameName(entry.first, valueName)) {
      entry.second = value;
      found = true;
    }
  }
  if (!found) entries.emplace_back(valueName, value);
  const bool ok = replaceValues(folder, entries);
  ::flock(lock, LOCK_UN);
  ::close(lock);
  return ok;
}

namespace testing {
void setKeyStoreBeforeRenameHook(void (*hook)()) {
  gBeforeRename = hook;
}
}  // namespace testing

}  // namespace tarvion::platform
