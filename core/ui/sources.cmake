set(d ${CMAKE_SOURCE_DIR}/core/ui)
list(APPEND DM_CORE_PURE_SOURCES)
list(APPEND DM_CORE_WIN_SOURCES ${d}/ui_stubs.cpp)
