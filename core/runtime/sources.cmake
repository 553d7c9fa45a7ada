# The core runtime, the top floor: the exports and life cycle, the frame's
# step table and its file worker (state.json, cmd.txt), the console, config
# loading, diagnostics, auto-connect, the draw and shadow detours and the
# reload blocks. It calls into every floor below.
set(d ${CMAKE_SOURCE_DIR}/core/runtime)
list(APPEND DM_CORE_PURE_SOURCES ${d}/auto_connect_step.cpp ${d}/diag_text.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/core_main.cpp ${d}/core_frame.cpp ${d}/dispatcher.cpp
  ${d}/config.cpp ${d}/auto_connect.cpp ${d}/diagnostics.cpp ${d}/runtime_stubs.cpp
  ${d}/hooks.cpp ${d}/net_frame_step.cpp ${d}/state_files.cpp)
