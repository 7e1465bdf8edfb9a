# On Windows tarvion.dll is also an in-process COM automation server: the
# control CTarvionCtrl (dispatch interface _DTarvion), its property page and the
# type library TarvionLib, which is generated from the entry table, compiled
# with widl and embedded as resource TYPELIB 1. Included from CMakeLists.txt
# after the tarvion target exists.

set(COM_DIR ${PROJECT_SOURCE_DIR}/src/control/com)

# widl of the target's own mingw-w64 toolchain (x86_64-w64-mingw32-widl...).
get_filename_component(_tarvion_cxx ${CMAKE_CXX_COMPILER} NAME)
string(REGEX REPLACE "-g\\+\\+.*$" "" _tarvion_triplet "${_tarvion_cxx}")
find_program(TARVION_WIDL NAMES ${_tarvion_triplet}-widl widl REQUIRED)

# The type library imports stdole2.tlb (for IDispatch); Debian ships it with wine.
find_file(TARVION_STDOLE2_TLB stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
                /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows /usr/lib64/wine/x86_64-windows
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT TARVION_STDOLE2_TLB)
  message(FATAL_ERROR "stdole2.tlb not found: install wine64 (its libwine package ships it)")
endif()
get_filename_component(_tarvion_stdole_dir ${TARVION_STDOLE2_TLB} DIRECTORY)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_tarvion_widl_arch --win64)
else()
  set(_tarvion_widl_arch --win32)
endif()

# A folder of its own: the C++ glue generation writes a tarvion.idl into
# ${GEN_DIR} as well, and the two commands may run at the same time.
set(TLB_DIR ${PROJECT_BINARY_DIR}/typelib)
add_custom_command(
  OUTPUT ${TLB_DIR}/tarvion.idl
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/gen_entries.py --idl-only ${ENTRY_TABLE} ${TLB_DIR}
  DEPENDS ${ENTRY_TABLE} ${PROJECT_SOURCE_DIR}/scripts/gen_entries.py
  COMMENT "Generating the type library description from the entry table")
add_custom_command(
  OUTPUT ${TLB_DIR}/tarvion.tlb
  COMMAND ${TARVION_WIDL} ${_tarvion_widl_arch} --nostdinc -I ${COM_DIR} -L ${_tarvion_stdole_dir} -t
          -o ${TLB_DIR}/tarvion.tlb ${TLB_DIR}/tarvion.idl
  DEPENDS ${TLB_DIR}/tarvion.idl ${COM_DIR}/automation_base.idl
  COMMENT "Compiling the type library")
add_custom_target(tarvion_typelib DEPENDS ${TLB_DIR}/tarvion.tlb)

file(GLOB COM_SOURCES CONFIGURE_DEPENDS ${COM_DIR}/*.cpp)
set_source_files_properties(${COM_SOURCES} PROPERTIES COMPILE_DEFINITIONS "_WIN32_WINNT=0x0601;WINVER=0x0601")
set_source_files_properties(${COM_DIR}/tarvion.rc PROPERTIES OBJECT_DEPENDS
                                                             "${TLB_DIR}/tarvion.tlb;${COM_DIR}/toolbox.bmp")
target_sources(tarvion PRIVATE ${COM_SOURCES} ${COM_DIR}/tarvion.rc)
add_dependencies(tarvion tarvion_typelib)
# src for the control's headers; the COM folder for resource.h and the bitmap,
# and the type library's folder, where windres finds tarvion.tlb.
target_include_directories(tarvion PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR} ${COM_DIR} ${TLB_DIR})
target_link_libraries(tarvion PRIVATE oleaut32 ole32 uuid advapi32 user32 gdi32)
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  # The .def (src/control/tarvion.def) names the 32-bit __stdcall entry points
  # without their @n suffix.
  target_link_options(tarvion PRIVATE -Wl,--enable-stdcall-fixup)
endif()

# The automation client the wine tests run (tests/wine/run.sh).
add_executable(tarvion_wine_client ${PROJECT_SOURCE_DIR}/tests/wine/client.cpp ${PROJECT_SOURCE_DIR}/tests/wine/container.cpp)
set_target_properties(tarvion_wine_client PROPERTIES OUTPUT_NAME client)
target_compile_definitions(tarvion_wine_client PRIVATE _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(tarvion_wine_client PRIVATE oleaut32 ole32 uuid user32 gdi32)
target_link_options(tarvion_wine_client PRIVATE -static-libgcc -static-libstdc++ -static -municode)
