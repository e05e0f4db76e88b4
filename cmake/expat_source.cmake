# expat compiled from its source for the Windows runtime (tools/fetch-expat-source.sh puts
# it in third_party/expat; tools/test-windows.sh passes the folder). Static, with DTD
# support (entities and their expansion limits) and namespace processing.
set(CAPSULE_EXPAT_SOURCE "${CMAKE_SOURCE_DIR}/third_party/expat" CACHE PATH "expat's source (tools/fetch-expat-source.sh)")
if(NOT EXISTS "${CAPSULE_EXPAT_SOURCE}/lib/xmlparse.c")
    message(FATAL_ERROR "The Windows runtime needs expat's source: run tools/fetch-expat-source.sh "
                        "(or give -DCAPSULE_EXPAT_SOURCE=<folder>)")
endif()
set(expat_config "${CMAKE_BINARY_DIR}/expat/expat_config.h")
file(WRITE "${expat_config}.new" "/* expat's build settings for the Windows runtime (cmake/expat_source.cmake). */
#define BYTEORDER 1234
#define HAVE_MEMMOVE 1
#define XML_CONTEXT_BYTES 1024
#define XML_DTD 1
#define XML_NS 1
")
file(COPY_FILE "${expat_config}.new" "${expat_config}" ONLY_IF_DIFFERENT)
add_library(expat STATIC ${CAPSULE_EXPAT_SOURCE}/lib/xmlparse.c ${CAPSULE_EXPAT_SOURCE}/lib/xmlrole.c
                         ${CAPSULE_EXPAT_SOURCE}/lib/xmltok.c)
target_include_directories(expat PUBLIC ${CAPSULE_EXPAT_SOURCE}/lib PRIVATE ${CMAKE_BINARY_DIR}/expat)
target_compile_definitions(expat PUBLIC XML_STATIC)
target_compile_options(expat PRIVATE -w)
