// The driver classes the control creates by the name a model row gives. Each
// folder of src/drivers/ lists its own classes in <folder>_family.cpp, as a
// function `DriverFamily <folder>_drivers()`; the build calls every folder of
// the family list (cmake/families.cmake) through generated glue, so no shared
// file names a family's classes.
#pragma once

#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/ecf_base.h"

namespace tarvion {

struct DriverClass {
  const char* name = "";  // as the model rows name the class
  // A new driver; `maker` is the row's maker code, handed to the classes whose
  // constructor takes one and ignored by the others.
  DriverPtr (*make)(int maker) = nullptr;
};

// The entry of class Driver under its name.
template <class Driver>
DriverClass driverClass(const char* name) {
  if constexpr (std::is_constructible_v<Driver, int>)
    return {name, +[](int maker) -> DriverPtr { return std::make_unique<Driver>(maker); }};
  else
    return {name, +[](int) -> DriverPtr { return std::make_unique<Driver>(); }};
}

struct DriverFamily {
  const char* folder = "";  // its folder under src/drivers/
  std::vector<DriverClass> classes;
};

// Every listed folder's classes, in the list's order (generated).
const std::vector<DriverFamily>& driverFamilies();

// The class of a name; null when no folder lists it.
const DriverClass* findDriverClass(std::string_view name);

}  // namespace tarvion
