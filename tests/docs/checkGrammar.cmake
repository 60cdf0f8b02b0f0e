# The editor grammar authors take (editors/qv.tmLanguage.json) is valid JSON, colours as
# keywords exactly the scanner's keywords, and is the grammar the build makes now (so it
# also names what the player registers today).
#   cmake -DGRAMMAR=... -DGENERATED=... -DSCANNER=... -P checkGrammar.cmake
file(READ ${GRAMMAR} grammar)
string(JSON patterns ERROR_VARIABLE invalid GET "${grammar}" repository keywords patterns)
if(invalid)
  message(FATAL_ERROR "${GRAMMAR} is not valid JSON, or has no keyword patterns: ${invalid}")
endif()

set(colored "")
string(JSON count LENGTH "${patterns}")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON match GET "${patterns}" ${i} match)
  string(REGEX REPLACE "^\\\\b\\((.*)\\)\\\\b$" "\\1" words "${match}")
  string(REPLACE "|" ";" words "${words}")
  list(APPEND colored ${words})
endforeach()

file(STRINGS ${SCANNER} rules REGEX "return KEYWORD_")
set(scanned "")
foreach(rule ${rules})
  string(REGEX MATCHALL "\"[A-Za-z_]+\"" words "${rule}")
  foreach(word ${words})
    string(REPLACE "\"" "" word ${word})
    list(APPEND scanned ${word})
  endforeach()
endforeach()
list(SORT colored)
list(SORT scanned)
if(NOT colored STREQUAL scanned)
  message(FATAL_ERROR "keywords of the grammar: ${colored}\nkeywords of the scanner: ${scanned}")
endif()

file(READ ${GENERATED} generated)
if(NOT grammar STREQUAL generated)
  message(FATAL_ERROR "${GRAMMAR} differs from the grammar the build made (${GENERATED}): copy it over")
endif()
