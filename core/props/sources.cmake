# The props: the game's own models placed in the world, kept across a core
# reload in a section of their own and shared through the server.
set(d ${CMAKE_SOURCE_DIR}/core/props)
list(APPEND DM_CORE_PURE_SOURCES ${d}/props_math.cpp ${d}/props_text.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/props_table.cpp ${d}/props_models.cpp ${d}/props_server.cpp ${d}/props_commands.cpp
  ${d}/model_catalog.cpp ${d}/props_attach.cpp ${d}/props_level.cpp ${d}/props_collision.cpp ${d}/props_lights.cpp)
