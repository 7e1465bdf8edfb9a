// The data tables compiled into the library (the files under data/, by their
// path below it, as "fiscnet/banks-a.txt").
#pragma once

#include <optional>
#include <string_view>

namespace tarvion {

// The compiled-in copy of a data file; none for a path the build did not embed.
std::optional<std::string_view> embeddedData(std::string_view path);

}  // namespace tarvion
