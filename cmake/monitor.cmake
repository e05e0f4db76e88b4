# The demo application (examples/monitor) packed with its web pages and the module
# libraries it loads: build/monitor is the whole agent in one file.
set(MONITOR_STAGE ${CMAKE_BINARY_DIR}/monitor-app)
set(MONITOR_MODULES msocket msqlite mserial msnmp)
file(GLOB_RECURSE MONITOR_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/monitor/*)
set(MONITOR_COPY_MODULES)
foreach(module ${MONITOR_MODULES})
    list(APPEND MONITOR_COPY_MODULES
         COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${module}> ${MONITOR_STAGE}/bin/)
endforeach()
# The stamp, not a staged file, marks the stage: copies keep their sources' times.
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/monitor-app.stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${MONITOR_STAGE}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/examples/monitor ${MONITOR_STAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MONITOR_STAGE}/bin
    ${MONITOR_COPY_MODULES}
    COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/monitor-app.stamp
    DEPENDS ${MONITOR_FILES} ${MONITOR_MODULES}
    COMMENT "Staging the monitor application")
# The page's own script (web/app.js) runs in the browser, not in the runtime.
capsule_package(monitor_app ${CMAKE_BINARY_DIR}/monitor ${MONITOR_STAGE} OPTIONS --no-check web/*
                DEPENDS ${CMAKE_BINARY_DIR}/monitor-app.stamp)
