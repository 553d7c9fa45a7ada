set(d ${CMAKE_SOURCE_DIR}/core/ui)
list(APPEND DM_CORE_PURE_SOURCES ${d}/ui_pure.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/ui_shell.cpp ${d}/ui_draw.cpp ${d}/ui_pages.cpp ${d}/ui_removal.cpp
  ${d}/ui_stubs.cpp)
# Stand-in for the runtime's config.ini access until the runtime builds its own.
if(NOT DM_CORE_WIN_SOURCES MATCHES "core/runtime/config\\.cpp")
  list(APPEND DM_CORE_WIN_SOURCES ${d}/ui_config_standin.cpp)
endif()
