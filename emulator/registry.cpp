#include "emulator/registry.h"

#include <algorithm>
#include <array>

#include "core/text.h"

namespace tarvion::emulator {

const std::vector<VirtualModel>& virtualModels() {
  static const std::vector<VirtualModel> all = [] {
    std::vector<VirtualModel> v;
    for (const FaceFamily& family : faceFamilies()) {
      std::vector<VirtualModel> models = family.models();
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

const caps::ModelRow* virtualModelRow(int number) {
  if (const caps::ModelRow* r = caps::fiscalModel(number)) return r;
  const int check = number - kCheckModelBase;
  const auto& rows = caps::checkModels();
  if (check < 1 || check > static_cast<int>(rows.size())) return nullptr;
  return &rows[static_cast<size_t>(check - 1)];
}

std::string virtualModelList() {
  std::string s;
  for (const VirtualModel& m : virtualModels()) s += text::format("  %2d  %s\n", m.number, m.name.c_str());
  return s;
}

bool startsAnAnswer(uint8_t byte) {
  static const std::array<bool, 256> starts = [] {
    std::array<bool, 256> a{};
    for (const FaceFamily& family : faceFamilies())
      for (uint8_t b : family.answerStarts) a[b] = true;
    return a;
  }();
  return starts[byte];
}

}  // namespace tarvion::emulator
