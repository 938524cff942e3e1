# The core as a stack of static libraries, one per folder. Each layer is
# compiled against an include tree of its own (build/layers/<name>/) that
# holds links to its own folder and the folders below it, and nothing else:
# an include that points up or sideways does not compile.
#
#   quillon_layer(<name> SOURCES <files...> [BELOW <folders...>] [USES <layers...>])
#
# BELOW lists every folder the layer may include besides its own; USES the
# layers it links directly (their own dependencies follow). The plain
# library is quillon-<name>; where the native unit tests run under the
# sanitizers, quillon-<name>-checked is the same sources instrumented.
function(quillon_layer name)
  cmake_parse_arguments(layer "" "" "SOURCES;BELOW;USES" ${ARGN})
  set(tree ${CMAKE_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${tree})
  foreach(folder ${name} ${layer_BELOW})
    if(NOT EXISTS ${tree}/${folder})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${tree}/${folder} SYMBOLIC)
    endif()
  endforeach()
  set(variants "")
  list(APPEND variants quillon-${name})
  if(QUILLON_SANITIZE)
    list(APPEND variants quillon-${name}-checked)
  endif()
  foreach(target ${variants})
    add_library(${target} STATIC ${layer_SOURCES})
    target_include_directories(${target} PRIVATE ${tree})
    target_compile_options(${target} PRIVATE ${QUILLON_CORE_FLAGS})
    # C++20 on Windows, as the stub (app/CMakeLists.txt says why).
    if(WIN32)
      set_target_properties(${target} PROPERTIES CXX_STANDARD 20)
    endif()
    string(REPLACE "quillon-${name}" "" suffix ${target})
    foreach(used ${layer_USES})
      target_link_libraries(${target} PUBLIC quillon-${used}${suffix})
    endforeach()
    if(suffix STREQUAL "-checked")
      target_compile_options(${target} PUBLIC ${QUILLON_SANITIZER_FLAGS})
      target_link_options(${target} PUBLIC ${QUILLON_SANITIZER_FLAGS})
    endif()
  endforeach()
endfunction()
