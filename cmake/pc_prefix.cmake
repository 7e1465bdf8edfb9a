# Run by the install rules (install(CODE)) after the pkg-config files are in:
# sets their prefix= line to the prefix installed to, which may differ from
# the one configured (a package builds under /usr, `cmake --install --prefix`).
# Expects _tarvion_pc_dir, the pkg-config folder relative to the prefix.
file(GLOB _tarvion_pcs "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${_tarvion_pc_dir}/*.pc")
foreach(_pc IN LISTS _tarvion_pcs)
  file(READ "${_pc}" _text)
  string(REGEX REPLACE "(^|\n)prefix=[^\n]*" "\\1prefix=${CMAKE_INSTALL_PREFIX}" _text "${_text}")
  file(WRITE "${_pc}" "${_text}")
endforeach()
