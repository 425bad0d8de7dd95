# Installs the build at BUILD_DIR into a fresh prefix under WORK_DIR, then builds the consumer
# project at CONSUMER_DIR against it twice, through find_package and through pkg-config, and runs
# both builds. Sanitizer builds (SANITIZE) pass their flags on, since the installed library is
# instrumented.
#   cmake -DBUILD_DIR=… -DWORK_DIR=… -DCONSUMER_DIR=… -DGENERATOR=… -DCXX_COMPILER=… -DLIBDIR=…
#         [-DSANITIZE=address,undefined] -P consumer_test.cmake

function(run_step name)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} failed (${status}):\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE}")
endif()

run_step("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(installed
    include/ferngate-dat/lib.hpp
    include/ferngate-dat/file_type/texture.hpp
    ${LIBDIR}/cmake/ferngate-dat/ferngate-datConfig.cmake
    ${LIBDIR}/pkgconfig/ferngate-dat.pc)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "cmake --install did not install ${installed}")
  endif()
endforeach()

# find_package(ferngate-dat) and ferngate::dat.
run_step("configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build
  -G ${GENERATOR} -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_FLAGS=${flags} -DCMAKE_EXE_LINKER_FLAGS=${flags})
run_step("building the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run_step("running the consumer" ${WORK_DIR}/build/consumer)
set(expected "R8G8B8 0x06000001 1 x 1: Failed to open file at /nonexistent/portal.dat: No such file or directory\n")
if(NOT step_output STREQUAL expected)
  message(FATAL_ERROR "the consumer printed:\n${step_output}\nexpected:\n${expected}")
endif()

# pkg-config: the same program from the .pc file's flags alone.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run_step("pkg-config" pkg-config --cflags --libs ferngate-dat)
string(STRIP "${step_output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run_step("building with pkg-config's flags" ${CXX_COMPILER} -std=c++23 ${flags}
  ${CONSUMER_DIR}/main.cpp ${pc_flags} -o ${WORK_DIR}/consumer-pkg-config)
run_step("running the pkg-config build" ${WORK_DIR}/consumer-pkg-config)
if(NOT step_output STREQUAL expected)
  message(FATAL_ERROR "the pkg-config build printed:\n${step_output}\nexpected:\n${expected}")
endif()
