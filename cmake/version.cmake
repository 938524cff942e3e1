# The version every program prints with --version: the project's version
# and, in a git checkout, the commit it was built from, written into
# <build>/generated/quillon/build_version.h when the build is configured.
# Outside a checkout (a source tarball) the commit is left out. A new
# commit makes CMake configure again, so that the commit stays current.
set(QUILLON_COMMIT "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short HEAD
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE QUILLON_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE git_result ERROR_QUIET)
  if(NOT git_result EQUAL 0)
    set(QUILLON_COMMIT "")
  endif()
  if(QUILLON_COMMIT)
    # HEAD, the branch it names (loose or packed): what moves on a commit.
    foreach(ref HEAD packed-refs)
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path ${ref}
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      list(APPEND QUILLON_GIT_FILES ${file})
    endforeach()
    execute_process(COMMAND ${GIT_EXECUTABLE} symbolic-ref -q HEAD
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE branch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(branch)
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path ${branch}
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      list(APPEND QUILLON_GIT_FILES ${file})
    endif()
    foreach(file ${QUILLON_GIT_FILES})
      if(NOT IS_ABSOLUTE ${file})
        set(file ${CMAKE_SOURCE_DIR}/${file})
      endif()
      if(EXISTS ${file})
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
      endif()
    endforeach()
  endif()
endif()
if(QUILLON_COMMIT)
  set(QUILLON_VERSION_TEXT "${PROJECT_VERSION} (${QUILLON_COMMIT})")
else()
  set(QUILLON_VERSION_TEXT "${PROJECT_VERSION}")
endif()
set(QUILLON_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/build_version.h.in ${QUILLON_GENERATED_DIR}/quillon/build_version.h @ONLY)
