set(d ${CMAKE_SOURCE_DIR}/core/net)
list(APPEND DM_CORE_PURE_SOURCES)
list(APPEND DM_CORE_WIN_SOURCES ${d}/net_stubs.cpp)
