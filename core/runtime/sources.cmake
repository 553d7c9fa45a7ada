set(d ${CMAKE_SOURCE_DIR}/core/runtime)
list(APPEND DM_CORE_PURE_SOURCES ${d}/dm_token.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/core_main.cpp ${d}/core_frame.cpp ${d}/runtime_stubs.cpp)
