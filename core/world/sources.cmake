set(d ${CMAKE_SOURCE_DIR}/core/world)
list(APPEND DM_CORE_PURE_SOURCES ${d}/world_sync_math.cpp ${d}/world_text.cpp ${d}/job_text.cpp
  ${d}/traffic_tables.cpp ${d}/props_math.cpp ${d}/props_text.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/clock_sync.cpp ${d}/weather_sync.cpp ${d}/damage.cpp ${d}/gps.cpp
  ${d}/road_events.cpp ${d}/job_market.cpp ${d}/job_sync.cpp ${d}/job_command.cpp
  ${d}/traffic_lock.cpp ${d}/traffic_sync.cpp
  ${d}/props_table.cpp ${d}/props_models.cpp ${d}/props_server.cpp ${d}/props_commands.cpp ${d}/model_catalog.cpp
  ${d}/props_attach.cpp ${d}/props_level.cpp ${d}/props_collision.cpp ${d}/props_lights.cpp)
