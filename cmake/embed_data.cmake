# The tables under data/ compiled into the library, so a build tree, the
# Python package and the Windows DLL work without an installed data folder.
# Each file becomes a byte array keyed by its path below data/; a file of the
# same path in the data folder still overrides it at run time.
file(GLOB_RECURSE TARVION_DATA_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*)
list(SORT TARVION_DATA_FILES)
set(_embedded_entries "")
set(_embedded_arrays "")
set(_index 0)
foreach(path ${TARVION_DATA_FILES})
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/data ${path})
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND _embedded_arrays "const unsigned char kData${_index}[] = {${bytes}0};\n")
  string(APPEND _embedded_entries "    {\"${rel}\", kData${_index}, ${size}},\n")
  math(EXPR _index "${_index} + 1")
endforeach()
set(TARVION_EMBEDDED_DATA ${PROJECT_BINARY_DIR}/generated/embedded_data.cpp)
file(CONFIGURE OUTPUT ${TARVION_EMBEDDED_DATA} CONTENT "// Generated from data/ by cmake/embed_data.cmake: do not edit.
#include <cstddef>
#include \"core/embedded_data.h\"

namespace tarvion {
namespace {
@_embedded_arrays@
struct File {
  const char* path;
  const unsigned char* bytes;
  size_t size;
};
const File kFiles[] = {
@_embedded_entries@    {nullptr, nullptr, 0},
};
}  // namespace

std::optional<std::string_view> embeddedData(std::string_view path) {
  for (const File* f = kFiles; f->path; ++f)
    if (path == f->path) return std::string_view(reinterpret_cast<const char*>(f->bytes), f->size);
  return std::nullopt;
}

}  // namespace tarvion
" @ONLY)
