set(d ${CMAKE_SOURCE_DIR}/core/ui)
list(APPEND DM_CORE_PURE_SOURCES ${d}/ui_pure.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/ui_shell.cpp ${d}/ui_draw.cpp ${d}/ui_pages.cpp ${d}/ui_notice.cpp
  ${d}/ui_stubs.cpp)
