set(d ${CMAKE_SOURCE_DIR}/core/vehicles)
list(APPEND DM_CORE_PURE_SOURCES ${d}/look_text.cpp ${d}/look_wheels.cpp ${d}/motion_math.cpp ${d}/vehicle_args.cpp)
list(APPEND DM_CORE_WIN_SOURCES ${d}/local_sample.cpp ${d}/local_accessories.cpp ${d}/remote_glue_clone.cpp ${d}/look_format.cpp ${d}/vehicle_defs.cpp
  ${d}/spawn_vehicle.cpp ${d}/spawn_release.cpp ${d}/spawn_motion.cpp ${d}/spawn_trailer.cpp ${d}/spawn_reload.cpp
  ${d}/vehicle_commands.cpp
  ${d}/rv_slots.cpp ${d}/rv_drive.cpp ${d}/rv_commands.cpp ${d}/rv_remote.cpp)
