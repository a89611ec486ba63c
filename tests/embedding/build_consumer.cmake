# Builds and runs the consumer project (consumer/) the way a host would:
#   cmake -DVIA=package -DVELA_BUILD=<this build> ... -P build_consumer.cmake
#     installs this build into a fresh prefix, then finds it as a package;
#   cmake -DVIA=subdirectory -DVELA_SOURCE=<this source tree> ... -P build_consumer.cmake
#     builds the library inside the consumer's own build.
# Also: CONSUMER_SOURCE, WORK (a scratch folder, emptied first), GENERATOR,
# CXX_COMPILER, FLAGS (compile and link flags, such as the sanitizers'), and
# EXPECT_STATIC: the library is static (for subdirectory: build it static).

function(run step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${step} failed (${status}): ${ARGN}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
set(consumer_build ${WORK}/build)
set(options -DVELA_CONSUMER_VIA=${VIA} -DVELA_CONSUMER_EXPECTS_STATIC=${EXPECT_STATIC}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}" "-DCMAKE_SHARED_LINKER_FLAGS=${FLAGS}")

if(VIA STREQUAL "package")
  set(prefix ${WORK}/prefix)
  run("installing the library" ${CMAKE_COMMAND} --install ${VELA_BUILD} --prefix ${prefix})
  list(APPEND options -DCMAKE_PREFIX_PATH=${prefix})
else()
  if(EXPECT_STATIC)
    list(APPEND options -DVELA_BUILD_SHARED=OFF)
  endif()
  list(APPEND options -DVELA_CONSUMER_SOURCE=${VELA_SOURCE})
endif()

run("configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer_build}
  -G ${GENERATOR} ${options})
run("building the consumer" ${CMAKE_COMMAND} --build ${consumer_build})
run("running the consumer" ${consumer_build}/vela_consumer)

if(VIA STREQUAL "package")
  # The installed tool runs from its install, with the libraries it was built with.
  if(EXISTS ${prefix}/bin/vela-mesh)
    run("running the installed vela-mesh" ${prefix}/bin/vela-mesh --help)
  endif()
else()
  # The host's install holds the host's files only.
  set(host_prefix ${WORK}/host-prefix)
  run("installing the consumer" ${CMAKE_COMMAND} --install ${consumer_build} --prefix ${host_prefix})
  file(GLOB_RECURSE installed RELATIVE ${host_prefix} ${host_prefix}/*)
  if(NOT installed STREQUAL "bin/vela_consumer")
    message(FATAL_ERROR "the host's install holds more than its own program: ${installed}")
  endif()
endif()
