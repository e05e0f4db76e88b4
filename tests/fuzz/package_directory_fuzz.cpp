// The package directory reader (as the packer and the runtime read a package) on any text:
// whatever it takes, the literal reader takes too and gives the same entries, except that
// each entry's `pos` is the offset the reader placed there, from the first stream on.
#include "script_heap.h"

#include "core/engine/text.h"

#include <string.h>

namespace {

// same(directory, literal) once the placed offsets are checked and put back as they were.
const char* kCheck = R"(
(function (dir, lit, first, same) {
    if (dir === null || typeof dir !== 'object' || lit === null || typeof lit !== 'object')
        return false;
    var keys = Object.keys(dir);
    for (var i = 0; i < keys.length; i++) {
        var d = dir[keys[i]], l = lit[keys[i]];
        if (d === null || typeof d !== 'object') continue;
        if (typeof d.pos !== 'number' || !(d.pos >= first)) return false;
        if (l !== null && typeof l === 'object' && 'pos' in l) d.pos = l.pos;
        else delete d.pos;
    }
    return same(dir, lit, true);
}))";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    duk_context* ctx = fuzz::heap();
    const char* text = reinterpret_cast<const char*>(data);
    const double first = 1024;
    HostValue dir, lit;
    if (engine::readDirectory(engine::host(ctx), text, size, first, &dir)) {
        duk_idx_t d = duk_get_top_index(ctx);
        if (!engine::readLiteral(engine::host(ctx), text, size, &lit)) {
            fprintf(stderr, "taken as a directory, refused as a literal\n");
            abort();
        }
        duk_idx_t l = duk_get_top_index(ctx);
        if (duk_peval_string(ctx, kCheck) != 0) abort();
        duk_dup(ctx, d);
        duk_dup(ctx, l);
        duk_push_number(ctx, first);
        duk_push_global_stash(ctx);
        duk_get_prop_string(ctx, -1, "same");
        duk_remove(ctx, -2);
        if (duk_pcall(ctx, 4) != 0 || !duk_to_boolean(ctx, -1)) {
            fprintf(stderr, "the directory differs from the literal: %s\n",
                    duk_safe_to_string(ctx, -1));
            abort();
        }
    }
    duk_set_top(ctx, 0);
    return 0;
}
