# Builds Duktape from the single-file source that Debian's duktape-dev installs.
# duk_config.h is copied into the build tree with the project's overrides appended
# below its override marker; duktape.c is compiled as C++ so that engine errors
# unwind C++ frames (DUK_USE_CPP_EXCEPTIONS). Native recursion is limited by the C stack
# that the thread has left (capsuleStackLow in core/engine/duktape/stack_check.cpp), not by
# a count. Date's string forms and Date.parse of them come from core/engine/duktape/date.cpp.
# The value stack may hold 20 M values: loading a compiled script from the script cache
# puts all the constants of a function there at once, and a function may have up to 16 M
# (core/engine/duktape/70-wide-consts.patch); the heap's limit bounds its memory.
# The string table doubles when it holds twice as many strings as it has slots (Duktape:
# 17/16), which halves its size for a heap of a million strings at one more string compared
# per lookup.
# Values are the packed 8-byte form on 64-bit platforms too (core/engine/duktape/README.md);
# an array-index string is recognised when it is used as a key, not stored in every string.
# Where pointers are 64 bits, the string table links its strings by 32-bit codes
# (core/engine/duktape/string_links.cpp).
# The library itself is made in the top CMakeLists.txt (target duktape).
set(DUKTAPE_SOURCE_DIR "/usr/share/duktape" CACHE PATH "Duktape single-file source")
foreach(f duktape.c duktape.h duk_config.h)
    if(NOT EXISTS "${DUKTAPE_SOURCE_DIR}/${f}")
        message(FATAL_ERROR "${DUKTAPE_SOURCE_DIR}/${f} missing: install duktape-dev (tools/setup.sh)")
    endif()
endforeach()

set(DUK_GEN "${CMAKE_BINARY_DIR}/duktape")
file(MAKE_DIRECTORY "${DUK_GEN}")
file(READ "${DUKTAPE_SOURCE_DIR}/duk_config.h" duk_config)
# The AddressSanitizer build keeps Duktape's 16-byte values: its leak check finds a native
# block through a plain pointer, not under a packed value's tag.
set(duk_packed "#undef DUK_USE_PACKED_TVAL\n#define DUK_USE_PACKED_TVAL\n")
if(CAPSULE_SANITIZE)
    set(duk_packed "")
endif()
set(duk_overrides "/* __OVERRIDE_DEFINES__ */
#define DUK_USE_STRHASH_DENSE
#define DUK_USE_FASTINT
#define DUK_USE_CPP_EXCEPTIONS
#if !defined(CAPSULE_PRISTINE_ENGINE)
${duk_packed}#undef DUK_USE_HSTRING_ARRIDX
#if UINTPTR_MAX > 0xffffffffUL
#define DUK_USE_STRING_LINK32
#endif
#endif
#ifdef __cplusplus
extern \"C\" {
#endif
int capsuleStackLow(void);
int capsuleDateFormat(void* ctx, duk_int_t* parts, duk_int_t tzoffset, duk_small_uint_t flags);
int capsuleDateParse(void* ctx, const char* text);
#ifdef __cplusplus
}
#endif
#define DUK_USE_NATIVE_STACK_CHECK() capsuleStackLow()
#define DUK_USE_DATE_FORMAT_STRING(ctx,parts,tzoffset,flags) capsuleDateFormat((ctx), (parts), (tzoffset), (flags))
#define DUK_USE_DATE_PARSE_STRING(ctx,str) capsuleDateParse((ctx), (str))
#undef DUK_USE_NATIVE_CALL_RECLIMIT
#define DUK_USE_NATIVE_CALL_RECLIMIT 1000000
#undef DUK_USE_VALSTACK_LIMIT
#define DUK_USE_VALSTACK_LIMIT 20000000L
#undef DUK_USE_STRTAB_GROW_LIMIT
#define DUK_USE_STRTAB_GROW_LIMIT 32
")
string(REPLACE "/* __OVERRIDE_DEFINES__ */" "${duk_overrides}" duk_config "${duk_config}")
file(WRITE "${DUK_GEN}/duk_config.h.new" "${duk_config}")
file(COPY_FILE "${DUK_GEN}/duk_config.h.new" "${DUK_GEN}/duk_config.h" ONLY_IF_DIFFERENT)
file(COPY_FILE "${DUKTAPE_SOURCE_DIR}/duktape.h" "${DUK_GEN}/duktape.h" ONLY_IF_DIFFERENT)
# The project's changes to the engine's source: core/engine/duktape/*.patch (unified diffs of
# duktape.c), applied in the order of their names to a fresh copy at every configure.
file(GLOB duk_patches CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/core/engine/duktape/*.patch")
list(SORT duk_patches)
file(COPY_FILE "${DUKTAPE_SOURCE_DIR}/duktape.c" "${DUK_GEN}/duktape.cpp.new")
foreach(p ${duk_patches})
    execute_process(COMMAND patch --batch --forward --silent --no-backup-if-mismatch
                            -p1 "${DUK_GEN}/duktape.cpp.new" -i "${p}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${p} does not apply to ${DUKTAPE_SOURCE_DIR}/duktape.c:\n${out}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${p}")
endforeach()
file(COPY_FILE "${DUK_GEN}/duktape.cpp.new" "${DUK_GEN}/duktape.cpp" ONLY_IF_DIFFERENT)

