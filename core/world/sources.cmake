set(d ${CMAKE_SOURCE_DIR}/core/world)
list(APPEND DM_CORE_PURE_SOURCES ${d}/world_sync_math.cpp ${d}/world_text.cpp ${d}/job_text.cpp
  ${d}/traffic_tables.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/clock_sync.cpp ${d}/weather_sync.cpp ${d}/damage.cpp ${d}/gps.cpp
  ${d}/road_events.cpp ${d}/job_market.cpp ${d}/job_sync.cpp ${d}/job_command.cpp
  ${d}/traffic_lock.cpp ${d}/traffic_sync.cpp)
