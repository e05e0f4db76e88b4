# capsule_module_library(<name> SOURCES <file>... [LIBRARIES <target>...])
#
# A native module library bin/m<name>.so (Linux) or bin/m<name>.dll (Windows), built as a
# separate party builds one: plain C99 against the table's headers alone (module_api.h,
# module_helpers.h and module_path.h, copied into CAPSULE_MODULE_INCLUDE, its only project
# include path), linking nothing of the runtime (--no-undefined proves it), only
# initModule exported. A Windows DLL carries libgcc and the thread library inside, so that
# nothing has to travel beside it.
set(CAPSULE_MODULE_INCLUDE ${CMAKE_BINARY_DIR}/module_include)
foreach(header module_api.h module_helpers.h module_path.h)
    configure_file(${CMAKE_SOURCE_DIR}/core/${header} ${CAPSULE_MODULE_INCLUDE}/${header} COPYONLY)
endforeach()

function(capsule_module_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
    set(target m${name})
    add_library(${target} MODULE ${arg_SOURCES})
    target_include_directories(${target} PRIVATE ${CAPSULE_MODULE_INCLUDE})
    target_compile_options(${target} PRIVATE ${CAPSULE_WARNINGS})
    target_link_libraries(${target} PRIVATE ${arg_LIBRARIES})
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
    if(WIN32)
        target_link_options(${target} PRIVATE -static)
    endif()
    set_target_properties(${target} PROPERTIES PREFIX "" C_STANDARD 99 C_VISIBILITY_PRESET hidden
                          LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endfunction()
