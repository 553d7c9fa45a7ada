set(d ${CMAKE_SOURCE_DIR}/core/runtime)
list(APPEND DM_CORE_PURE_SOURCES ${d}/dm_token.cpp ${d}/placement.cpp ${d}/config_text.cpp
  ${d}/auto_connect_step.cpp ${d}/cmd_table.cpp ${d}/diag_text.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/core_main.cpp ${d}/core_frame.cpp ${d}/dispatcher.cpp
  ${d}/config.cpp ${d}/auto_connect.cpp ${d}/diagnostics.cpp ${d}/game_mem.cpp ${d}/runtime_stubs.cpp
  ${d}/inline_hook.cpp ${d}/hooks.cpp)
