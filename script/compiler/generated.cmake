# Scanner and parser of the script language, generated at build time from gmScanner.l and
# gmParser.y into the build tree (never committed). Included from script/CMakeLists.txt.
# The grammar uses the custom syntax error report and YYNOMEM of Bison 3.8.
if(BISON_VERSION VERSION_LESS 3.8)
  message(FATAL_ERROR "The script parser needs Bison 3.8 or later (found ${BISON_VERSION})")
endif()

set(GM_GENERATED_DIR ${PROJECT_BINARY_DIR}/script/compiler)
file(MAKE_DIRECTORY ${GM_GENERATED_DIR})

bison_target(gmParser ${CMAKE_CURRENT_LIST_DIR}/gmParser.y ${GM_GENERATED_DIR}/gmParser.cpp
  DEFINES_FILE ${GM_GENERATED_DIR}/gmParser.hpp
  COMPILE_FLAGS "-Wall")
flex_target(gmScanner ${CMAKE_CURRENT_LIST_DIR}/gmScanner.l ${GM_GENERATED_DIR}/gmScanner.cpp)
add_flex_bison_dependency(gmScanner gmParser)

target_sources(ombrix_script PRIVATE ${BISON_gmParser_OUTPUTS} ${FLEX_gmScanner_OUTPUTS})
# The generated code is not ours to tidy; its warnings would only hide real ones.
set_source_files_properties(${BISON_gmParser_OUTPUTS} ${FLEX_gmScanner_OUTPUTS}
  PROPERTIES COMPILE_OPTIONS "-Wno-unused-function;-Wno-sign-compare;-Wno-unused-parameter;-Wno-register")
