set(d ${CMAKE_SOURCE_DIR}/core/net)
list(APPEND DM_CORE_PURE_SOURCES ${d}/net_wire.cpp ${d}/net_roster.cpp ${d}/net_interp.cpp
  ${d}/net_key.cpp ${d}/net_csv.cpp)
set(DM_NET_WIN_SOURCES ${d}/net_client.cpp ${d}/net_command.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${DM_NET_WIN_SOURCES})
# The frame step calls auto-connect and the vehicle glue: in the core only,
# not among the client's own sources.
list(APPEND DM_CORE_WIN_SOURCES ${d}/net_frame_step.cpp)
