# The parts around the library (tests, benchmarks, tool, fuzz targets) need
# packages the library itself does not. A part whose packages are missing is
# turned off with a note, so that the library alone configures with a
# compiler and CMake.

# vela_part_needs(<option> <description> <package>...): turns <option> off in
# the caller's scope, with a status line naming what is missing, when one of
# the packages cannot be found.
function(vela_part_needs option description)
  if(NOT ${option})
    return()
  endif()
  set(missing "")
  foreach(package ${ARGN})
    find_package(${package} QUIET)
    if(NOT ${package}_FOUND)
      list(APPEND missing ${package})
    endif()
  endforeach()
  if(missing)
    string(REPLACE ";" ", " missing_text "${missing}")
    message(STATUS "VelaRunnerMapping: ${description} off (${option}): ${missing_text} not found")
    set(${option} OFF PARENT_SCOPE)
  endif()
endfunction()
