// The engine's compilation unit: Duktape's single-file source (copied into the build tree
// by cmake/duktape.cmake, with the project's duk_config.h) and the one thing the host needs
// from its internals, and the hook of the script language's translator.
#include "duktape.cpp"

#include "core/engine_translate.h"

// Runs the finalizer of every object that still has one, as destroying the heap does, but
// frees nothing: the process is about to end and gives the memory back whole. It skips the
// three full collections and the block-by-block freeing of duk_destroy_heap, which for a
// large heap cost a good part of a short run. The heap is unusable afterwards.
void duk_host_run_all_finalizers(duk_context* ctx) {
    duk_heap* heap = reinterpret_cast<duk_hthread*>(ctx)->heap;
    if (heap->ms_running || heap->pf_prevent_count) return; // inside a collection: not ours
    // Objects already found unreachable and waiting for their finalizer go first.
    if (heap->finalize_list) duk_heap_process_finalize_list(heap);
    DUK_HEAP_SET_FINALIZER_NORESCUE(heap);
    duk__free_run_finalizers(heap);
}

// Pushes a new plain object with room for `size` properties, as an object literal of that
// many properties gets: built property by property, it would grow many times.
void duk_host_push_object_sized(duk_context* ctx, duk_uint32_t size) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_push_object(thr);
    duk_hobject_resize_entrypart(thr, duk_known_hobject(thr, -1), size);
}

// Defines the property named by the string at -2 with the value at -1 on the plain object
// at objIdx, enumerable and configurable, writable if asked, as the engine defines the
// members of an object literal but without the general checks of duk_def_prop (the object
// is one the caller just made, with no accessors). Pops the name and the value.
void duk_host_define_member(duk_context* ctx, duk_idx_t objIdx, duk_bool_t writable) {
    duk_hthread* thr = reinterpret_cast<duk_hthread*>(ctx);
    duk_hobject* obj = duk_require_hobject(thr, objIdx);
    duk_hstring* key = duk_require_hstring(thr, -2);
    duk_hobject_define_property_internal(thr, obj, key,
                                         writable ? DUK_PROPDESC_FLAGS_WEC : DUK_PROPDESC_FLAGS_EC);
    duk_pop(thr); // the value went with the definition
}

// The start of every compilation (core/duktape/10-translate.patch): the translation of the
// script language replaces the input, or its error is thrown from inside the compilation,
// which makes it read like the engine's own syntax errors (the message ends in
// "(line N)", fileName and lineNumber name the script's line).
void duk_host_translate(duk_compiler_ctx* comp_ctx, duk_lexer_point* pt, duk_small_uint_t flags) {
    duk_hthread* thr = comp_ctx->thr;
    TranslateError error;
    if (capsuleTranslate(thr, &comp_ctx->lex.input, &comp_ctx->lex.input_length, flags, &error) >=
        0)
        return;
    pt->offset = 0;
    pt->line = 1;
    DUK_LEXER_SETPOINT(&comp_ctx->lex, pt); // the error's line information reads the window
    comp_ctx->curr_token.start_line = error.line;
    duk_error(thr, error.code, "%s", duk_get_string(thr, -1));
}
