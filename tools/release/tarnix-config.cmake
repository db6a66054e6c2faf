# CMake package of tarnix, the online family-tree service client for Windows.
#
#   find_package(tarnix CONFIG REQUIRED)   # with tarnix_DIR=<release>/cmake, or on CMAKE_PREFIX_PATH
#   target_link_libraries(my_host PRIVATE tarnix::tarnix)
#
# tarnix::tarnix is the library for the architecture being built (x86 or x64); tarnix::x86 and
# tarnix::x64 name each one. The import library is tarnix.lib for MSVC-style toolchains
# (MSVC, clang-cl) and libtarnix.dll.a for MinGW. Ship tarnix.dll beside the host's executable:
# the imported targets' IMPORTED_LOCATION points at it.
get_filename_component(_tarnix_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
  set(_tarnix_implib tarnix.lib)
else()
  set(_tarnix_implib libtarnix.dll.a)
endif()

foreach(_tarnix_arch x86 x64)
  if(NOT TARGET tarnix::${_tarnix_arch})
    add_library(tarnix::${_tarnix_arch} SHARED IMPORTED)
    set_target_properties(tarnix::${_tarnix_arch} PROPERTIES
      IMPORTED_LOCATION "${_tarnix_root}/${_tarnix_arch}/bin/tarnix.dll"
      IMPORTED_IMPLIB "${_tarnix_root}/${_tarnix_arch}/lib/${_tarnix_implib}"
      INTERFACE_INCLUDE_DIRECTORIES "${_tarnix_root}/include")
  endif()
endforeach()

if(NOT TARGET tarnix::tarnix)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_library(tarnix::tarnix ALIAS tarnix::x64)
  else()
    add_library(tarnix::tarnix ALIAS tarnix::x86)
  endif()
endif()

unset(_tarnix_root)
unset(_tarnix_implib)
unset(_tarnix_arch)
