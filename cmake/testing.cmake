# Test executables. On Windows targets they run under Wine (the toolchain's
# emulator); each executable is one ctest entry, since every Wine start costs.
enable_testing()

# A game test is the process's main module, as the game is: it carries the
# simulated game image and imports the user32 cursor functions by name.
set(DM_GAME_BASE_PREFERRED 0x140000000)
set(DM_GAME_BASE_REBASED 0x180000000)

function(dm_game_link target base)
  math(EXPR image "${base} + 0x1000" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR text "${base} + 0x3701000" OUTPUT_FORMAT HEXADECIMAL)
  target_link_libraries(${target} PRIVATE dm_game_exe dm_sim)
  target_link_options(${target} PRIVATE
    -Wl,--image-base=${base} -Wl,--disable-dynamicbase
    -Wl,--section-start=.dmgame=${image} -Wl,--section-start=.text=${text})
endfunction()

# dm_add_test(name SOURCES ... [LIBS ...] [INCLUDES ...] [DEPENDS ...] [CORE] [NET] [GAME] [REBASED]
#             [TIMEOUT s])
# GAME: the test is a simulated game; REBASED: also build and run it at a
# second image base, which catches code that assumes the preferred one;
# CORE: the core's objects are linked in (dm_link_core), for tests that call
# the core's functions directly; NET: the network client's alone. DEPENDS:
# targets the test loads at run time (the plug-in, a core, a test core),
# built before every variant. The test's own sources are compiled once
# (an object library, <name>_objects) and linked into each variant.
function(dm_add_test name)
  cmake_parse_arguments(T "GAME;REBASED;CORE;NET" "TIMEOUT" "SOURCES;LIBS;INCLUDES;DEPENDS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(variants ${name})
  if(T_REBASED)
    list(APPEND variants ${name}_rebased)
  endif()
  set(objects ${name}_objects)
  add_library(${objects} OBJECT ${T_SOURCES})
  target_link_libraries(${objects} PRIVATE gtest ${T_LIBS})
  target_include_directories(${objects} PRIVATE ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/tests
    ${CMAKE_SOURCE_DIR}/common ${T_INCLUDES})
  if(T_CORE OR T_NET)
    target_link_libraries(${objects} PRIVATE dm_core_deps)
  endif()
  if(T_GAME)
    target_link_libraries(${objects} PRIVATE dm_sim) # the simulated game's headers
  endif()
  foreach(v ${variants})
    add_executable(${v} $<TARGET_OBJECTS:${objects}>)
    target_link_libraries(${v} PRIVATE gtest gtest_main ${T_LIBS})
    if(T_CORE)
      dm_link_core(${v})
    elseif(T_NET)
      dm_link_core_net(${v})
    endif()
    if(T_GAME)
      if(v STREQUAL name)
        dm_game_link(${v} ${DM_GAME_BASE_PREFERRED})
      else()
        dm_game_link(${v} ${DM_GAME_BASE_REBASED})
      endif()
    endif()
    if(T_DEPENDS)
      add_dependencies(${v} ${T_DEPENDS})
    endif()
    add_test(NAME ${v} COMMAND ${v} --gtest_color=no)
    set_tests_properties(${v} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(T_GAME)
      # The plug-in's overlay takes the cursor clip and window focus of the
      # one virtual desktop: game tests take turns at it.
      set_tests_properties(${v} PROPERTIES RESOURCE_LOCK dm_desktop)
    endif()
  endforeach()
endfunction()
