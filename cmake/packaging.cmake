# The packer is itself a packed application: the bare runtime, staged next to the packer
# script, runs that script from disk and packs the packer's own directory behind a copy
# of itself. Other applications are packed with the finished packer.
set(PACK_STAGE ${CMAKE_BINARY_DIR}/pack-stage)
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/capsule-pack
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PACK_STAGE}/scripts
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:capsule> ${PACK_STAGE}/capsule
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/tools/packer/scripts/autorun.js
            ${PACK_STAGE}/scripts/autorun.js
    COMMAND ${PACK_STAGE}/capsule ${CMAKE_SOURCE_DIR}/tools/packer ${CMAKE_BINARY_DIR}/capsule-pack
    COMMAND chmod +x ${CMAKE_BINARY_DIR}/capsule-pack
    DEPENDS capsule ${CMAKE_SOURCE_DIR}/tools/packer/scripts/autorun.js
    COMMENT "Packing capsule-pack")
add_custom_target(capsule_pack ALL DEPENDS ${CMAKE_BINARY_DIR}/capsule-pack)

# capsule_package(<target> <output> <dir> [OPTIONS <packer option>...] [DEPENDS <file>...]):
# packs an application directory.
function(capsule_package target output dir)
    cmake_parse_arguments(PARSE_ARGV 3 arg "" "" "OPTIONS;DEPENDS")
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_BINARY_DIR}/capsule-pack ${arg_OPTIONS} ${dir} ${output}
        COMMAND chmod +x ${output}
        DEPENDS capsule_pack ${CMAKE_BINARY_DIR}/capsule-pack ${arg_DEPENDS}
        COMMENT "Packing ${output}")
    add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

# The script test runner: its entry script plus the test harness.
set(RUNNER_APP ${CMAKE_BINARY_DIR}/test-runner-app)
add_custom_command(
    OUTPUT ${RUNNER_APP}/scripts/autorun.js ${RUNNER_APP}/scripts/harness.js
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/tools/test-runner/scripts/autorun.js
            ${RUNNER_APP}/scripts/autorun.js
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/tests/scripts/harness.js
            ${RUNNER_APP}/scripts/harness.js
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/test-runner/scripts/autorun.js
            ${CMAKE_SOURCE_DIR}/tests/scripts/harness.js)
capsule_package(capsule_test ${CMAKE_BINARY_DIR}/capsule-test ${RUNNER_APP}
                DEPENDS ${RUNNER_APP}/scripts/autorun.js ${RUNNER_APP}/scripts/harness.js)

# The example application of the README.
file(GLOB_RECURSE EXAMPLE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/hello/*)
capsule_package(example_hello ${CMAKE_BINARY_DIR}/hello ${CMAKE_SOURCE_DIR}/examples/hello
                DEPENDS ${EXAMPLE_FILES})

# The development shell: a prompt, and a runner of application folders and single scripts
# without packing them.
file(GLOB SHELL_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/shell/scripts/*.js)
capsule_package(capsule_shell ${CMAKE_BINARY_DIR}/capsule-shell ${CMAKE_SOURCE_DIR}/tools/shell
                DEPENDS ${SHELL_FILES})
