# The Windows build (MinGW-w64 cross compilers, cmake/toolchains): the platform layer of
# platforms/win32 in place of the posix one, and a GUI-subsystem executable with the wide
# entry point, linked statically so that it needs no runtime libraries beside it.
get_target_property(platform_sources capsule_platform SOURCES)
list(FILTER platform_sources EXCLUDE REGEX "^platforms/posix/")
list(APPEND platform_sources
    platforms/win32/atomic_file.cpp
    platforms/win32/blocks.cpp
    platforms/win32/large_blocks.cpp
    platforms/win32/address_space.cpp
    platforms/win32/console.cpp
    platforms/win32/fault_trap.cpp
    platforms/win32/filesystem.cpp
    platforms/win32/library.cpp
    platforms/win32/power.cpp
    platforms/win32/process.cpp
    platforms/win32/process_info.cpp
    platforms/win32/registry.cpp
    platforms/win32/run_program.cpp
    platforms/win32/services.cpp
    platforms/win32/shortcut.cpp
    platforms/win32/threads.cpp)
set_target_properties(capsule_platform PROPERTIES SOURCES "${platform_sources}")
get_target_property(runtime_sources capsule_runtime SOURCES)
list(TRANSFORM runtime_sources REPLACE "^platforms/posix/entry.cpp$" "platforms/win32/entry.cpp")
set_target_properties(capsule_runtime PROPERTIES SOURCES "${runtime_sources}")
# Windows 7 calls (token elevation); 64-bit file offsets also on i686: for every room of
# the runtime alike (not the engine's own compilation unit, nor the module libraries).
foreach(room capsule_text capsule_platform capsule_xml capsule_engine)
    target_compile_definitions(${room} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                               _WIN32_WINNT=0x0601 _FILE_OFFSET_BITS=64)
endforeach()
target_compile_definitions(capsule_runtime PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                           _WIN32_WINNT=0x0601 _FILE_OFFSET_BITS=64)
target_link_libraries(capsule_platform PUBLIC pdh psapi shell32 advapi32 ole32 uuid powrprof)

set_target_properties(capsule PROPERTIES SOURCES platforms/win32/main.cpp WIN32_EXECUTABLE ON)
target_link_options(capsule PRIVATE -municode -static)

# The module libraries that Windows has (bin/m<name>.dll): SQLite (from its amalgamation),
# serial ports and sockets (TLS through Schannel). SNMP and USB are Linux-only.
include(cmake/module_library.cmake)
add_subdirectory(libraries/sqlite)
add_subdirectory(libraries/serial)
add_subdirectory(libraries/socket)
