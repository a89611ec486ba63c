# Finds libdeflate, which compresses the binary .vtu arrays. Releases from
# 1.15 install a CMake package; older ones (Debian 12 has 1.14) only a header
# and a library. Either way the result is the target libdeflate::libdeflate.
find_package(libdeflate CONFIG QUIET)
if(libdeflate_FOUND)
  if(NOT TARGET libdeflate::libdeflate)
    foreach(candidate libdeflate::libdeflate_shared libdeflate::libdeflate_static)
      if(TARGET ${candidate})
        add_library(libdeflate::libdeflate ALIAS ${candidate})
        break()
      endif()
    endforeach()
  endif()
  return()
endif()

find_path(libdeflate_INCLUDE_DIR libdeflate.h)
find_library(libdeflate_LIBRARY NAMES deflate)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(libdeflate REQUIRED_VARS libdeflate_LIBRARY libdeflate_INCLUDE_DIR)
if(libdeflate_FOUND AND NOT TARGET libdeflate::libdeflate)
  add_library(libdeflate::libdeflate UNKNOWN IMPORTED)
  set_target_properties(libdeflate::libdeflate PROPERTIES
    IMPORTED_LOCATION "${libdeflate_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${libdeflate_INCLUDE_DIR}")
endif()
mark_as_advanced(libdeflate_INCLUDE_DIR libdeflate_LIBRARY)
