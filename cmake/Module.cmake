# ombrix_module(NAME DEPS...) makes the library ombrix_NAME from every .cpp in the calling
# folder and the subfolders given with SUBDIRS. Includes are written from the repository
# root ("script/vm/gmMachine.h"), so a header's path says which module owns it.
function(ombrix_module name)
  cmake_parse_arguments(M "" "" "SUBDIRS;DEPS" ${ARGN})
  set(globs ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(sub ${M_SUBDIRS})
    list(APPEND globs ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.cpp)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${globs})
  if(sources)
    add_library(ombrix_${name} STATIC ${sources})
    target_include_directories(ombrix_${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_link_libraries(ombrix_${name} PUBLIC ${M_DEPS})
  else()
    add_library(ombrix_${name} INTERFACE)
    target_include_directories(ombrix_${name} INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_link_libraries(ombrix_${name} INTERFACE ${M_DEPS})
  endif()
endfunction()

# Adds every subfolder of the calling folder that has a CMakeLists.txt, so that areas of
# tests and benchmarks can be added without touching a shared list.
function(ombrix_add_subfolders)
  file(GLOB entries RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(e ${entries})
    get_filename_component(d ${e} DIRECTORY)
    # tests/support is added from the top level: benchmarks use it without the tests.
    if(NOT "${CMAKE_CURRENT_SOURCE_DIR}/${d}" STREQUAL "${PROJECT_SOURCE_DIR}/tests/support")
      add_subdirectory(${d})
    endif()
  endforeach()
endfunction()

# ombrix_fuzzer(NAME SOURCE LIBS...) adds a libFuzzer target when OMBRIX_FUZZ is on; run it
# as fuzz-build/tests/<area>/NAME [corpus folder].
function(ombrix_fuzzer name source)
  if(OMBRIX_FUZZ)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARGN})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()
