set(d ${CMAKE_SOURCE_DIR}/core/ui)
list(APPEND DM_CORE_PURE_SOURCES ${d}/ui_pure.cpp ${d}/nametags_math.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/ui_shell.cpp ${d}/ui_draw.cpp ${d}/ui_pages.cpp ${d}/ui_servers.cpp ${d}/ui_notice.cpp
  ${d}/nametags_view.cpp ${d}/nametags_draw.cpp)
