set(d ${CMAKE_SOURCE_DIR}/core/net)
list(APPEND DM_CORE_PURE_SOURCES ${d}/net_wire.cpp ${d}/net_log.cpp ${d}/net_roster.cpp ${d}/net_interp.cpp
  ${d}/net_key.cpp ${d}/net_csv.cpp ${d}/net_recording.cpp)
set(DM_NET_WIN_SOURCES ${d}/net_connection.cpp ${d}/net_lookup.cpp ${d}/net_datagrams.cpp ${d}/net_info.cpp
  ${d}/net_features.cpp ${d}/net_status.cpp ${d}/net_key_file.cpp ${d}/net_command.cpp)
