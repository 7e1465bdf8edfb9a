# Run by the install rules (install(CODE)) after the systemd unit is in: puts
# the default configuration of `tarvion serve` in the configuration folder of
# the prefix installed to (/etc for /usr, as Debian has it; PREFIX/etc
# otherwise) and, for a prefix other than /usr, points the unit at that
# prefix's tool and configuration. An existing configuration is the
# administrator's and is never overwritten.
# Expects _tarvion_source, _tarvion_bindir and _tarvion_unit_dir (relative
# to the prefix, or absolute).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(_etc /etc)
else()
  set(_etc "${CMAKE_INSTALL_PREFIX}/etc")
endif()
if(NOT EXISTS "$ENV{DESTDIR}${_etc}/tarvion/serve.json")
  file(INSTALL "${_tarvion_source}/packaging/serve/serve.json" DESTINATION "${_etc}/tarvion"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  foreach(_var _tarvion_bindir _tarvion_unit_dir)
    if(NOT IS_ABSOLUTE "${${_var}}")
      set(${_var} "${CMAKE_INSTALL_PREFIX}/${${_var}}")
    endif()
  endforeach()
  set(_unit "$ENV{DESTDIR}${_tarvion_unit_dir}/tarvion-serve.service")
  file(READ "${_unit}" _text)
  string(REPLACE "/usr/bin/tarvion " "${_tarvion_bindir}/tarvion " _text "${_text}")
  string(REPLACE "/etc/tarvion/" "${_etc}/tarvion/" _text "${_text}")
  file(WRITE "${_unit}" "${_text}")
endif()
