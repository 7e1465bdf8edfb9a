#include "core/model_lookup.h"

#include <algorithm>
#include <charconv>

#include "core/text.h"

namespace tarvion::caps {

std::string modelNameKey(std::string_view name, NameMatch match) {
  std::string key;
  switch (match) {
    case NameMatch::Exact:
      return std::string(name);
    case NameMatch::TrailingBlanks:
      key = text::trimRight(name);
      break;
    case NameMatch::Loose:
      key = text::trim(name);
      break;
  }
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

const ModelRow* findModel(const std::vector<ModelRow>& table, std::string_view name, NameMatch match) {
  const std::string want = modelNameKey(name, match);
  // Every row has a name, so a name that is all blanks names none.
  if (want.empty()) return nullptr;
  for (const ModelRow& r : table)
    if (modelNameKey(r.name, match) == want) return &r;
  return nullptr;
}

const ModelRow* findModel(std::string_view name) {
  if (const ModelRow* r = findModel(fiscalModels(), name)) return r;
  return findModel(checkModels(), name);
}

int fiscalModelNumber(std::string_view text) {
  const std::string t = text::trim(text);
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (!t.empty() && std::all_of(t.begin(), t.end(), isDigit)) {
    int n = 0;
    // More digits than an int holds are no model either.
    if (std::from_chars(t.data(), t.data() + t.size(), n).ec != std::errc()) return 0;
    return fiscalModel(n) ? n : 0;
  }
  const ModelRow* r = findModel(fiscalModels(), t);
  return r ? r->number : 0;
}

}  // namespace tarvion::caps
