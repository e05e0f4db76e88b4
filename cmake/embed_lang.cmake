# Writes OUT, a C++ file holding the language library units (core/lang/*.js) as text, with
# the paths each one provides (its first line: "// provides: Name Array.forEach ...") and
# the table of natives it is given (a line "// natives: tableName", optional).
#   cmake -DOUT=<file.cpp> -DUNITS="<a.js|b.js>" -P embed_lang.cmake
string(REPLACE "|" ";" UNITS "${UNITS}")
set(decls "")
set(rows "")
foreach(f ${UNITS})
    file(READ "${f}" text)
    get_filename_component(name "${f}" NAME)
    string(REGEX MATCH "^// provides:([^\n]*)" m "${text}")
    if(NOT m)
        message(FATAL_ERROR "${f}: the first line must be // provides: <paths>")
    endif()
    string(STRIP "${CMAKE_MATCH_1}" provides)
    set(natives "nullptr")
    string(REGEX MATCH "\n// natives: ([A-Za-z_0-9]+)" m "${text}")
    if(m)
        set(natives "${CMAKE_MATCH_1}")
        string(APPEND decls "extern const duk_function_list_entry ${natives}[];\n")
    endif()
    string(FIND "${text}" ")capsule_js\"" bad)
    if(NOT bad EQUAL -1)
        message(FATAL_ERROR "${f} holds the text delimiter )capsule_js\"")
    endif()
    string(APPEND rows "    {\"${name}\", \"${provides}\", ${natives},\n     R\"capsule_js(${text})capsule_js\"},\n")
endforeach()
file(WRITE "${OUT}.new" "// Generated from core/lang/*.js by cmake/embed_lang.cmake: do not edit.
#include \"core/lang/units.h\"

namespace engine {
${decls}
const LangUnit kLangUnits[] = {
${rows}    {nullptr, nullptr, nullptr, nullptr}};

} // namespace engine
")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
