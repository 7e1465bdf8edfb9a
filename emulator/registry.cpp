#include "emulator/registry.h"

#include <algorithm>

#include "core/text.h"
#include "emulator/bematech/printer.h"
#include "emulator/cv2009/printer.h"
#include "emulator/fiscnet/printer.h"

namespace tarvion::emulator {

namespace {

// One row per family of faces: the function that lists its models.
using FamilyModels = std::vector<VirtualModel> (*)();
const FamilyModels kFamilies[] = {
    &bematech::virtualModels,
    &fiscnet::virtualModels,
    &cv2009::virtualModels,
};

}  // namespace

const std::vector<VirtualModel>& virtualModels() {
  static const std::vector<VirtualModel> all = [] {
    std::vector<VirtualModel> v;
    for (FamilyModels family : kFamilies) {
      std::vector<VirtualModel> models = family();
      v.insert(v.end(), models.begin(), models.end());
    }
    std::stable_sort(v.begin(), v.end(),
                     [](const VirtualModel& a, const VirtualModel& b) { return a.number < b.number; });
    return v;
  }();
  return all;
}

const VirtualModel* findVirtualModel(int number) {
  for (const VirtualModel& m : virtualModels())
    if (m.number == number) return &m;
  return nullptr;
}

std::string virtualModelList() {
  std::string s;
  for (const VirtualModel& m : virtualModels()) s += text::format("  %2d  %s\n", m.number, m.name.c_str());
  return s;
}

}  // namespace tarvion::emulator
