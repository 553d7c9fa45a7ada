# Dependencies fetched and built by scripts/setup into deps/.
set(DM_IMGUI_DIR ${DM_DEPS}/imgui)
if(NOT EXISTS ${DM_IMGUI_DIR}/imgui.h)
  message(FATAL_ERROR "deps/imgui is missing: run scripts/setup")
endif()

# Dear ImGui core modules, compiled once with our shared configuration and
# linked into both libraries.
add_library(dm_imgui STATIC
  ${DM_IMGUI_DIR}/imgui.cpp ${DM_IMGUI_DIR}/imgui_draw.cpp
  ${DM_IMGUI_DIR}/imgui_widgets.cpp ${DM_IMGUI_DIR}/imgui_tables.cpp)
target_include_directories(dm_imgui PUBLIC ${DM_IMGUI_DIR} ${CMAKE_SOURCE_DIR}/common)
target_compile_definitions(dm_imgui PUBLIC IMGUI_USER_CONFIG="dm_imconfig.h")
target_compile_options(dm_imgui PRIVATE -w)
set_target_properties(dm_imgui PROPERTIES POSITION_INDEPENDENT_CODE ON)

if(WIN32)
  # The plug-in's backends: Win32 platform and Direct3D 11 renderer.
  add_library(dm_imgui_backends STATIC
    ${DM_IMGUI_DIR}/backends/imgui_impl_win32.cpp ${DM_IMGUI_DIR}/backends/imgui_impl_dx11.cpp)
  target_include_directories(dm_imgui_backends PUBLIC ${DM_IMGUI_DIR}/backends)
  target_link_libraries(dm_imgui_backends PUBLIC dm_imgui d3d11 d3dcompiler dxgi dwmapi)
  target_compile_options(dm_imgui_backends PRIVATE -w)

  set(DM_SODIUM_DIR ${DM_DEPS}/sodium-mingw)
  add_library(dm_sodium STATIC IMPORTED)
  set_target_properties(dm_sodium PROPERTIES
    IMPORTED_LOCATION ${DM_SODIUM_DIR}/lib/libsodium.a
    INTERFACE_INCLUDE_DIRECTORIES ${DM_SODIUM_DIR}/include
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
  set_property(TARGET dm_sodium APPEND PROPERTY INTERFACE_LINK_LIBRARIES advapi32)
else()
  find_library(DM_SODIUM_LIB sodium REQUIRED)
  add_library(dm_sodium INTERFACE)
  target_link_libraries(dm_sodium INTERFACE ${DM_SODIUM_LIB})
endif()

# GoogleTest from Debian's source tree, built for the target.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
