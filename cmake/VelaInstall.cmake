# The install: both libraries with their headers, and the CMake package that
# finds them as Vela::RunnerMapping and Vela::RunnerSystem, the names they
# have through add_subdirectory. vela-mesh installs itself (tools/cli).
include(CMakePackageConfigHelpers)

set(VELA_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelaRunnerMapping)

install(TARGETS VelaRunnerMapping vela_runner_system EXPORT VelaRunnerMappingTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/VelaRunnerMapping.h
  ${PROJECT_SOURCE_DIR}/include/Vela_SolidMesh.h
  ${PROJECT_SOURCE_DIR}/include/VelaArray.h
  ${PROJECT_SOURCE_DIR}/include/VelaGeometry.h
  ${PROJECT_SOURCE_DIR}/include/VelaExport.h
  ${PROJECT_SOURCE_DIR}/include/VelaRefusal.h
  ${PROJECT_SOURCE_DIR}/include/VelaJunction.h
  ${PROJECT_SOURCE_DIR}/runner_system/runner_system.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT VelaRunnerMappingTargets NAMESPACE Vela::
  FILE VelaRunnerMappingTargets.cmake DESTINATION ${VELA_PACKAGE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VelaRunnerMappingConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VelaRunnerMappingConfig.cmake
  INSTALL_DESTINATION ${VELA_PACKAGE_DIR})
# Within one major version the exported class and its headers only grow: a
# host asking for 0.1 takes any 0.x from 0.1 on, and no 1.x.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VelaRunnerMappingConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/VelaRunnerMappingConfig.cmake
  ${PROJECT_BINARY_DIR}/VelaRunnerMappingConfigVersion.cmake
  DESTINATION ${VELA_PACKAGE_DIR})
