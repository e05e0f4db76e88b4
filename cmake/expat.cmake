# expat, the XML parser behind E4X: Debian's libexpat1-dev on Linux, linked statically (a
# shared library would cost every start its loading, E4X used or not); for Windows the
# pinned source (tools/fetch-expat-source.sh, cached in third_party/expat) compiled in.
if(WIN32)
    include(cmake/expat_source.cmake)
else()
    find_package(EXPAT REQUIRED)
    find_library(EXPAT_STATIC_LIBRARY NAMES libexpat.a)
    add_library(expat INTERFACE)
    target_include_directories(expat INTERFACE ${EXPAT_INCLUDE_DIRS})
    if(EXPAT_STATIC_LIBRARY)
        target_link_libraries(expat INTERFACE ${EXPAT_STATIC_LIBRARY})
    else()
        target_link_libraries(expat INTERFACE EXPAT::EXPAT)
    endif()
endif()
