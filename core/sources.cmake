# Gathers every subsystem's source lists, each file in one list:
#   DM_CORE_PURE_SOURCES  no windows.h, no game memory; also built natively
#   DM_NET_WIN_SOURCES    the network client's Windows sources
#   DM_CORE_BUILD_SOURCE  update_build.cpp, the build's own values
#   DM_CORE_WIN_SOURCES   the rest of the core's Windows sources
set(DM_CORE_PURE_SOURCES)
set(DM_CORE_WIN_SOURCES)
# The core's headers are named with their folder ("base/game_mem.h"), so an
# include line shows the floor it reaches.
set(DM_CORE_INCLUDES ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/core ${CMAKE_SOURCE_DIR}/common)
foreach(sub base net vehicles world props online ui runtime)
  include(${CMAKE_SOURCE_DIR}/core/${sub}/sources.cmake)
endforeach()
