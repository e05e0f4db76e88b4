# expat, the XML parser behind E4X: Debian's libexpat1-dev on Linux; for Windows the pinned
# source (tools/fetch-expat.sh, cached in third_party/expat) compiled into the runtime.
if(WIN32)
    include(cmake/expat_source.cmake)
else()
    find_package(EXPAT REQUIRED)
    add_library(expat INTERFACE)
    target_link_libraries(expat INTERFACE EXPAT::EXPAT)
endif()
