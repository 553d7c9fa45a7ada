# The core's ground floor: game access (the access layer, code patching,
# placement, tokens), the command table, plain text (console fields and
# numbers, text safe to log), the settings store and the log.
# It includes nothing from the floors above it.
set(d ${CMAKE_SOURCE_DIR}/core/base)
list(APPEND DM_CORE_PURE_SOURCES ${d}/dm_token.cpp ${d}/placement.cpp ${d}/config_text.cpp ${d}/cmd_table.cpp ${d}/plain_text.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/core_log.cpp ${d}/core_config.cpp ${d}/game_mem.cpp ${d}/inline_hook.cpp ${d}/detour_gate.cpp ${d}/shared_section.cpp ${d}/own_thread.cpp
  ${d}/cxx_pool.cpp)
