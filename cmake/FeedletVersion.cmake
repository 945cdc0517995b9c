# The build number, the fourth part of the DLL's file version, and the
# generated header feedlet_version.h (target feedlet_version).
#
# The build number must come out the same for everyone who builds one commit,
# so it is the number of commits reachable from HEAD (`git rev-list --count
# HEAD`): it grows with every commit on a branch and needs no counter kept
# anywhere. Outside a git checkout, and in a shallow clone (whose count would
# be wrong), it is 0. -DFEEDLET_BUILD_NUMBER=N sets it by hand. It is found
# again at every configure, so `cmake --preset ...` after a commit updates it.
set(FEEDLET_BUILD_NUMBER "" CACHE STRING
  "Fourth part of the file version; empty: the number of commits reachable from HEAD")

function(feedlet_find_build_number out)
  if(NOT FEEDLET_BUILD_NUMBER STREQUAL "")
    set(${out} ${FEEDLET_BUILD_NUMBER} PARENT_SCOPE)
    return()
  endif()
  set(count 0)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C
        ${GIT_EXECUTABLE} rev-parse --is-shallow-repository
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE shallow RESULT_VARIABLE shallow_status
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(shallow_status EQUAL 0 AND shallow STREQUAL "false")
      execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C
          ${GIT_EXECUTABLE} rev-list --count HEAD
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE commits RESULT_VARIABLE commits_status
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(commits_status EQUAL 0 AND commits MATCHES "^[0-9]+$")
        set(count ${commits})
      endif()
    elseif(shallow STREQUAL "true")
      message(WARNING "A shallow clone: the build number is 0 (clone the whole history for the real one)")
    endif()
  endif()
  set(${out} ${count} PARENT_SCOPE)
endfunction()

feedlet_find_build_number(FEEDLET_BUILD)
if(NOT FEEDLET_BUILD MATCHES "^[0-9]+$" OR FEEDLET_BUILD GREATER 65535)
  message(FATAL_ERROR "The build number must be 0 to 65535 (a version resource part is 16 bits): ${FEEDLET_BUILD}")
endif()
message(STATUS "Feedlet ${PROJECT_VERSION}, build ${FEEDLET_BUILD}")

set(FEEDLET_VERSION_INCLUDE ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/feedlet_version.h.in ${FEEDLET_VERSION_INCLUDE}/feedlet_version.h @ONLY)
add_library(feedlet_version INTERFACE)
target_include_directories(feedlet_version INTERFACE ${FEEDLET_VERSION_INCLUDE})
