# Writes dm_build_id.h (run at every build by the dm_build_id target):
#   OUT  the header; SRC  the source tree
#   ID   a fixed build id, or empty for the checkout's description
#   KEY  the release public key (64 hex digits) or empty
# The description is `git describe --always --dirty --tags` of SRC; outside a
# checkout (or without git) it is "unversioned-dirty" (a dev build: never updated). The header is rewritten
# only when its text changes, so an unchanged tree rebuilds nothing.
if(ID STREQUAL "")
  execute_process(COMMAND git describe --always --dirty --tags
    WORKING_DIRECTORY ${SRC} OUTPUT_VARIABLE ID OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0 OR ID STREQUAL "")
    set(ID "unversioned-dirty")
  endif()
endif()
set(text "/* Written by cmake/build_id.cmake at build time. */\n#define DM_BUILD_ID_DESCRIBED \"${ID}\"\n#define DM_RELEASE_KEY_CONFIGURED \"${KEY}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
