#include "drivers/driver_classes.h"

#include <map>

namespace tarvion {

const DriverClass* findDriverClass(std::string_view name) {
  static const std::map<std::string_view, const DriverClass*> byName = [] {
    std::map<std::string_view, const DriverClass*> m;
    for (const DriverFamily& f : driverFamilies())
      for (const DriverClass& c : f.classes) m.emplace(c.name, &c);
    return m;
  }();
  auto it = byName.find(name);
  return it == byName.end() ? nullptr : it->second;
}

}  // namespace tarvion
