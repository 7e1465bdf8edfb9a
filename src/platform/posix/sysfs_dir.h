// Reading the kernel's device folders (sysfs, /dev), shared by the port search
// of the drivers and the device list of the tool.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace tarvion::platform::posix {

// The variable's value, or the fallback when it is unset or empty.
inline std::string envOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : fallback;
}

// Entries of a folder named prefix + number, in number order (ttyACM2 before
// ttyACM10).
inline std::vector<std::string> numberedEntries(const std::string& dir, const std::string& prefix) {
  std::vector<std::pair<unsigned long, std::string>> found;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (struct dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
      std::string digits = name.substr(prefix.size());
      if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
      found.emplace_back(std::stoul(digits), name);
    }
    ::closedir(d);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& f : found) names.push_back(std::move(f.second));
  return names;
}

}  // namespace tarvion::platform::posix
