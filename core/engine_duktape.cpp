// The engine's compilation unit: Duktape's single-file source (copied into the build tree
// by cmake/duktape.cmake, with the project's duk_config.h) and the one thing the host needs
// from its internals.
#include "duktape.cpp"

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
