# The online services: one HTTP GET and the worker threads that run it, the
# server list behind the Servers window and the updater.
set(d ${CMAKE_SOURCE_DIR}/core/online)
list(APPEND DM_CORE_PURE_SOURCES ${d}/update_manifest.cpp ${d}/update_plan.cpp ${d}/servers_json.cpp ${d}/servers_favorites.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/servers_list.cpp ${d}/servers_worker.cpp
  ${d}/http_get.cpp ${d}/service_worker.cpp ${d}/update.cpp ${d}/update_files.cpp)
# The updater's build-time values: one file, compiled per core variant.
set(DM_CORE_BUILD_SOURCE ${d}/update_build.cpp)

# The updater's build-time values. DM_BUILD_ID empty: the checkout's
# `git describe --always --dirty --tags` at every build. DM_RELEASE_KEY empty:
# no release key built in, and the updater stays off.
set(DM_BUILD_ID "" CACHE STRING "Build id of the core (empty: the checkout's description at build time)")
set(DM_RELEASE_KEY "" CACHE STRING "Release public key, 64 hex digits (empty: no updates)")
if(WIN32)
  set(DM_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
  set(build_id_cmd ${CMAKE_COMMAND} -DOUT=${DM_GENERATED_DIR}/dm_build_id.h -DSRC=${CMAKE_SOURCE_DIR}
    -DID=${DM_BUILD_ID} -DKEY=${DM_RELEASE_KEY} -P ${CMAKE_SOURCE_DIR}/cmake/build_id.cmake)
  file(MAKE_DIRECTORY ${DM_GENERATED_DIR})
  execute_process(COMMAND ${build_id_cmd}) # present before the first build
  add_custom_target(dm_build_id ALL COMMAND ${build_id_cmd} BYPRODUCTS ${DM_GENERATED_DIR}/dm_build_id.h
    COMMENT "" VERBATIM)
  list(APPEND DM_CORE_INCLUDES ${DM_GENERATED_DIR})
endif()
