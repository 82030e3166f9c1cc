# cmake -P script: builds the library targets of BUILD_DIR, installs them into a fresh prefix
# under WORK_DIR, then configures, builds and runs the consumer project against that prefix.
foreach(var BUILD_DIR WORK_DIR CONSUMER_SOURCE GENERATOR CXX_COMPILER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_consumer.cmake: ${var} is not set")
  endif()
endforeach()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}")
  endif()
  message(STATUS "${what}: done")
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run("building the library"
  ${CMAKE_COMMAND} --build ${BUILD_DIR} --target stview_features stview_imaging stview_spacetime)
run("installing"
  ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component stview_development)
file(GLOB_RECURSE config ${prefix}/*/stviewConfig.cmake)
if(NOT EXISTS ${prefix}/include/stview/stview.hpp OR NOT config)
  message(FATAL_ERROR "the umbrella header or the package config was not installed")
endif()

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()
run("configuring the consumer"
  ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer_build} -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_CXX_FLAGS=${flags} -DCMAKE_EXE_LINKER_FLAGS=${flags})
run("building the consumer" ${CMAKE_COMMAND} --build ${consumer_build})
run("running the consumer" ${consumer_build}/consumer)
if(NOT last_output MATCHES "consumer ok")
  message(FATAL_ERROR "the consumer printed:\n${last_output}")
endif()
