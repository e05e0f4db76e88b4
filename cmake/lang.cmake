# The language library units (core/lang/*.js), embedded into the runtime as text by
# cmake/embed_lang.cmake; core/lang/units.cpp evaluates each on first use.
file(GLOB lang_units CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/core/lang/*.js"
                                       "${CMAKE_SOURCE_DIR}/core/xml/binding/*.js")
list(SORT lang_units)
set(lang_units_cpp "${CMAKE_BINARY_DIR}/generated/lang_units.cpp")
# The list goes to the script joined by `|` (a `;` would split it into two arguments).
string(REPLACE ";" "|" lang_units_arg "${lang_units}")
add_custom_command(OUTPUT "${lang_units_cpp}"
    COMMAND ${CMAKE_COMMAND} "-DOUT=${lang_units_cpp}" "-DUNITS=${lang_units_arg}"
            -P "${CMAKE_SOURCE_DIR}/cmake/embed_lang.cmake"
    DEPENDS ${lang_units} "${CMAKE_SOURCE_DIR}/cmake/embed_lang.cmake"
    COMMENT "Embedding the language library units" VERBATIM)
