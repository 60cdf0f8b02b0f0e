# Writes the TextMate grammar of .qv files from the scanner's keyword rules and the player's
# "--api --json" listing, so the colouring knows exactly the words the compiler and the
# player know.
#   cmake -DPLAYER=ombrix -DSCANNER=gmScanner.l -DOUTPUT=qv.tmLanguage.json -P makeGrammar.cmake

# Keywords: the words of the scanner rules that return a KEYWORD_ token ("and"|"&&" gives and).
file(STRINGS ${SCANNER} rules REGEX "return KEYWORD_")
set(keywords "")
foreach(rule ${rules})
  string(REGEX MATCHALL "\"[A-Za-z_]+\"" words "${rule}")
  foreach(word ${words})
    string(REPLACE "\"" "" word ${word})
    list(APPEND keywords ${word})
  endforeach()
endforeach()
set(literals null true false this)
set(control ${keywords})
list(REMOVE_ITEM control ${literals})

execute_process(COMMAND ${PLAYER} --api --json OUTPUT_VARIABLE api ERROR_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${PLAYER} --api --json failed")
endif()

# Registered names by kind: constants, global functions (core, math, player, prelude), and
# the modules and types that own constructors or methods.
set(constants "")
set(functions "")
set(types "")
string(JSON sectionCount LENGTH "${api}" sections)
math(EXPR lastSection "${sectionCount} - 1")
foreach(s RANGE ${lastSection})
  string(JSON entryCount LENGTH "${api}" sections ${s} entries)
  if(entryCount EQUAL 0)
    continue()
  endif()
  math(EXPR lastEntry "${entryCount} - 1")
  foreach(e RANGE ${lastEntry})
    string(JSON kind GET "${api}" sections ${s} entries ${e} kind)
    string(JSON owner GET "${api}" sections ${s} entries ${e} owner)
    string(JSON name GET "${api}" sections ${s} entries ${e} name)
    if(kind STREQUAL "constant")
      list(APPEND constants ${name})
    elseif(kind STREQUAL "function" AND owner STREQUAL "")
      list(APPEND functions ${name})
    elseif(kind STREQUAL "constructor")
      list(APPEND types ${name})
    elseif(kind STREQUAL "method")
      list(APPEND types ${owner})
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES functions)
list(REMOVE_DUPLICATES types)

function(alternation out)
  list(JOIN ARGN "|" joined)
  set(${out} "\\\\b(${joined})\\\\b" PARENT_SCOPE)
endfunction()
alternation(controlMatch ${control})
alternation(literalMatch ${literals})
alternation(constantMatch ${constants})
alternation(functionMatch ${functions})
alternation(typeMatch ${types})

file(WRITE ${OUTPUT} "{
  \"name\": \"QV\",
  \"scopeName\": \"source.qv\",
  \"fileTypes\": [\"qv\"],
  \"patterns\": [
    {\"include\": \"#comments\"},
    {\"include\": \"#strings\"},
    {\"include\": \"#numbers\"},
    {\"include\": \"#keywords\"},
    {\"include\": \"#registered\"}
  ],
  \"repository\": {
    \"comments\": {\"patterns\": [
      {\"name\": \"comment.line.double-slash.qv\", \"match\": \"//.*$\"},
      {\"name\": \"comment.block.qv\", \"begin\": \"/\\\\*\", \"end\": \"\\\\*/\"}
    ]},
    \"strings\": {\"patterns\": [
      {\"name\": \"string.quoted.double.qv\", \"begin\": \"\\\"\", \"end\": \"\\\"\",
       \"patterns\": [{\"name\": \"constant.character.escape.qv\", \"match\": \"\\\\\\\\.\"}]},
      {\"name\": \"string.quoted.other.qv\", \"begin\": \"`\", \"end\": \"`(?!`)\",
       \"patterns\": [{\"name\": \"constant.character.escape.qv\", \"match\": \"``\"}]},
      {\"name\": \"string.quoted.single.qv\", \"match\": \"'([^'\\\\\\\\]|\\\\\\\\.)+'\"}
    ]},
    \"numbers\": {\"patterns\": [
      {\"name\": \"constant.numeric.hex.qv\", \"match\": \"\\\\b0[xX][0-9a-fA-F]+\\\\b\"},
      {\"name\": \"constant.numeric.binary.qv\", \"match\": \"\\\\b0[bB][01]+\\\\b\"},
      {\"name\": \"constant.numeric.float.qv\", \"match\": \"(\\\\b[0-9]+\\\\.[0-9]*|\\\\.[0-9]+|\\\\b[0-9]+(?=[eE]))([eE][+-]?[0-9]+)?[fF]?\"},
      {\"name\": \"constant.numeric.integer.qv\", \"match\": \"\\\\b[0-9]+\\\\b\"}
    ]},
    \"keywords\": {\"patterns\": [
      {\"name\": \"keyword.control.qv\", \"match\": \"${controlMatch}\"},
      {\"name\": \"constant.language.qv\", \"match\": \"${literalMatch}\"}
    ]},
    \"registered\": {\"patterns\": [
      {\"name\": \"support.constant.qv\", \"match\": \"${constantMatch}\"},
      {\"name\": \"support.function.qv\", \"match\": \"${functionMatch}\"},
      {\"name\": \"support.class.qv\", \"match\": \"${typeMatch}\"}
    ]}
  }
}
")
