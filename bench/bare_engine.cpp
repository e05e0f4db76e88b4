// The bare engine: the same Duktape build as the runtime's (the project's duk_config
// overrides), the default allocator, one heap, one script file evaluated, the heap
// destroyed at exit. bench/engine.sh runs it next to the packed runtime.
//   bench_bare_engine <script.js>
#include "duktape.h"

#include <stdio.h>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <script.js>\n", argv[0]);
        return 2;
    }
    FILE* f = fopen(argv[1], "rb");
    if (!f) {
        perror(argv[1]);
        return 2;
    }
    std::string source;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        source.append(buf, n);
    fclose(f);
    duk_context* ctx = duk_create_heap_default();
    if (!ctx) return 1;
    int rc = 0;
    // Compiled as a program (not as eval code), as the runtime compiles its scripts.
    duk_push_string(ctx, argv[1]);
    if (duk_pcompile_lstring_filename(ctx, 0, source.data(), source.size()) != 0 ||
        duk_pcall(ctx, 0) != 0) {
        fprintf(stderr, "%s\n", duk_safe_to_string(ctx, -1));
        rc = 1;
    }
    duk_pop(ctx);
    duk_destroy_heap(ctx);
    return rc;
}
