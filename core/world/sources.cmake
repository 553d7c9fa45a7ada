set(d ${CMAKE_SOURCE_DIR}/core/world)
list(APPEND DM_CORE_PURE_SOURCES)
list(APPEND DM_CORE_WIN_SOURCES ${d}/world_stubs.cpp)
