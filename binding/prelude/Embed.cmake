# cmake -DDIR=<folder of .qv files> -DOUT=<header> -P Embed.cmake
# Each NAME.qv becomes gPreludeText::NAME, its characters kept exactly. The files hold no
# final newline; one that an editor adds is dropped, since the texts are composed and
# measured against fixed limits.
file(GLOB texts ${DIR}/*.qv)
list(SORT texts)
set(out "// Generated from binding/prelude/*.qv by Embed.cmake; edit the .qv files.\n#pragma once\n\nnamespace gPreludeText {\n")
foreach(file ${texts})
  get_filename_component(name ${file} NAME_WE)
  file(READ ${file} content)
  string(REGEX REPLACE "\r?\n$" "" content "${content}")
  string(APPEND out "inline constexpr const char* ${name} = R\"qv(${content})qv\";\n")
endforeach()
string(APPEND out "}  // namespace gPreludeText\n")
file(WRITE ${OUT} "${out}")
