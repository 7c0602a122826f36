# FindLibDeflate
# --------------
# Finds libdeflate and provides the imported target LibDeflate::LibDeflate.
#
# A libdeflate installed with its own CMake package (libdeflate 1.15 and later built with CMake)
# is used as it is; otherwise the header and library are looked up, with pkg-config's paths as
# hints. Set LibDeflate_USE_STATIC_LIBS to ON to prefer the static archive, as wheel builds do.
#
# Result variables: LibDeflate_FOUND, LibDeflate_VERSION, LibDeflate_INCLUDE_DIR, LibDeflate_LIBRARY.

find_package(libdeflate CONFIG QUIET)
if(libdeflate_FOUND)
  if(LibDeflate_USE_STATIC_LIBS AND TARGET libdeflate::libdeflate_static)
    set(_libdeflate_target libdeflate::libdeflate_static)
  elseif(TARGET libdeflate::libdeflate_shared)
    set(_libdeflate_target libdeflate::libdeflate_shared)
  elseif(TARGET libdeflate::libdeflate_static)
    set(_libdeflate_target libdeflate::libdeflate_static)
  endif()
endif()

if(_libdeflate_target)
  set(LibDeflate_VERSION ${libdeflate_VERSION})
  get_target_property(LibDeflate_INCLUDE_DIR ${_libdeflate_target} INTERFACE_INCLUDE_DIRECTORIES)
  set(LibDeflate_LIBRARY ${_libdeflate_target})
else()
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(PC_LibDeflate QUIET libdeflate)
  endif()
  find_path(LibDeflate_INCLUDE_DIR NAMES libdeflate.h HINTS ${PC_LibDeflate_INCLUDE_DIRS})
  set(_libdeflate_names deflate libdeflate)
  if(LibDeflate_USE_STATIC_LIBS)
    set(_libdeflate_names libdeflate.a deflatestatic ${_libdeflate_names})
  endif()
  find_library(LibDeflate_LIBRARY NAMES ${_libdeflate_names} HINTS ${PC_LibDeflate_LIBRARY_DIRS})
  unset(_libdeflate_names)
  if(LibDeflate_INCLUDE_DIR AND EXISTS "${LibDeflate_INCLUDE_DIR}/libdeflate.h")
    file(STRINGS "${LibDeflate_INCLUDE_DIR}/libdeflate.h" _libdeflate_version_line
         REGEX "^#define[ \t]+LIBDEFLATE_VERSION_STRING[ \t]+\"[^\"]*\"")
    string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" LibDeflate_VERSION "${_libdeflate_version_line}")
    unset(_libdeflate_version_line)
  endif()
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LibDeflate
  REQUIRED_VARS LibDeflate_LIBRARY LibDeflate_INCLUDE_DIR
  VERSION_VAR LibDeflate_VERSION)

if(LibDeflate_FOUND AND NOT TARGET LibDeflate::LibDeflate)
  if(_libdeflate_target)
    add_library(LibDeflate::LibDeflate INTERFACE IMPORTED)
    set_target_properties(LibDeflate::LibDeflate PROPERTIES INTERFACE_LINK_LIBRARIES ${_libdeflate_target})
  else()
    add_library(LibDeflate::LibDeflate UNKNOWN IMPORTED)
    set_target_properties(LibDeflate::LibDeflate PROPERTIES
      IMPORTED_LOCATION "${LibDeflate_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${LibDeflate_INCLUDE_DIR}")
  endif()
endif()
unset(_libdeflate_target)
mark_as_advanced(LibDeflate_INCLUDE_DIR LibDeflate_LIBRARY)
