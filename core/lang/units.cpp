// Installs the language library's units and evaluates each on first use (units.h).
#include "core/lang/units.h"
#include "core/engine/internal.h"

#include <string.h>
#include <string>

namespace engine {

namespace {

constexpr size_t kMaxUnits = 64;
bool gLoaded[kMaxUnits];

// Pushes the object that holds the last segment of `path` ("Array.prototype.quote" ->
// Array.prototype) and returns the start of that segment; pushes undefined when a holder
// on the way is missing.
const char* pushHolder(duk_context* ctx, const char* path, size_t len, std::string* name) {
    duk_push_global_object(ctx);
    size_t start = 0;
    for (size_t i = 0; i < len; i++) {
        if (path[i] != '.') continue;
        duk_get_prop_lstring(ctx, -1, path + start, i - start);
        duk_remove(ctx, -2);
        if (!duk_is_object(ctx, -1)) break;
        start = i + 1;
    }
    name->assign(path + start, len - start);
    return path + start;
}

// Calls f(ctx, holder at -1, name) for each path the unit provides.
template <class F> void eachPath(duk_context* ctx, const LangUnit& u, F&& f) {
    std::string name;
    for (const char* p = u.provides; *p;) {
        while (*p == ' ')
            p++;
        size_t len = strcspn(p, " ");
        if (!len) break;
        pushHolder(ctx, p, len, &name);
        if (duk_is_object(ctx, -1)) f(name);
        duk_pop(ctx);
        p += len;
    }
}

void loadUnit(duk_context* ctx, int idx) {
    if (gLoaded[idx]) return;
    gLoaded[idx] = true;
    const LangUnit& u = kLangUnits[idx];
    duk_require_stack(ctx, 8);
    // The accessors go first, so that the unit defines plain data properties in their place.
    eachPath(ctx, u, [&](const std::string& name) {
        duk_push_lstring(ctx, name.data(), name.size());
        duk_del_prop(ctx, -2);
    });
    std::string text = "function (native) {";
    text += u.source;
    text += "\n}";
    duk_push_string(ctx, "lang/");
    duk_push_string(ctx, u.file);
    duk_concat(ctx, 2);
    duk_compile_lstring_filename(ctx, DUK_COMPILE_FUNCTION, text.data(), text.size());
    duk_push_global_object(ctx);
    if (u.natives) {
        duk_push_object(ctx);
        duk_put_function_list(ctx, -1, u.natives);
    } else {
        duk_push_undefined(ctx);
    }
    duk_call_method(ctx, 1);
    duk_pop(ctx);
}

// The accessors' getter (key as argument 0) and setter (value, key): the unit first, then
// the plain read or write.
duk_ret_t lazyGet(duk_context* ctx) {
    loadUnit(ctx, duk_get_current_magic(ctx));
    duk_push_this(ctx);
    duk_to_object(ctx, -1);
    duk_dup(ctx, 0);
    duk_get_prop(ctx, -2);
    return 1;
}

duk_ret_t lazySet(duk_context* ctx) {
    loadUnit(ctx, duk_get_current_magic(ctx));
    duk_push_this(ctx);
    if (!duk_is_object(ctx, -1)) return 0;
    duk_dup(ctx, 1);
    duk_dup(ctx, 0);
    duk_put_prop(ctx, -3);
    return 0;
}

// The length of the part of path p (of length len) before its last dot.
size_t prefixLength(const char* p, size_t len) {
    while (len > 0 && p[len - 1] != '.')
        len--;
    return len ? len - 1 : 0;
}

} // namespace

void installLanguageLibrary(duk_context* ctx) {
    duk_push_global_object(ctx);
    duk_push_literal(ctx, "__lang");
    duk_push_bare_object(ctx);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_WEC);
    duk_pop(ctx);
    for (int i = 0; kLangUnits[i].file && i < static_cast<int>(kMaxUnits); i++) {
        duk_push_c_function(ctx, lazyGet, 1);
        duk_set_magic(ctx, -1, i);
        duk_push_c_function(ctx, lazySet, 2);
        duk_set_magic(ctx, -1, i);
        // [getter setter holder]: a holder is looked up once for the paths that follow it
        // with the same prefix (units list the paths of one holder together) and given
        // room for all of them at once.
        duk_push_undefined(ctx);
        const char* prefix = nullptr;
        size_t prefixLen = 0;
        for (const char* p = kLangUnits[i].provides; *p;) {
            while (*p == ' ')
                p++;
            size_t len = strcspn(p, " ");
            if (!len) break;
            size_t keyLen = prefixLength(p, len);
            if (!prefix || keyLen != prefixLen || memcmp(prefix, p, keyLen) != 0) {
                prefix = p;
                prefixLen = keyLen;
                duk_pop(ctx);
                std::string name;
                if (keyLen) {
                    pushHolder(ctx, p, len, &name);
                } else {
                    duk_push_global_object(ctx);
                }
                duk_uint32_t count = 0;
                for (const char* q = p; *q;) {
                    size_t n = strcspn(q, " ");
                    if (prefixLength(q, n) != keyLen || memcmp(q, p, keyLen) != 0) break;
                    count++;
                    q += n + strspn(q + n, " ");
                }
                if (duk_is_object(ctx, -1)) duk_host_reserve_entries(ctx, -1, count);
            }
            if (duk_is_object(ctx, -1)) {
                size_t dot = keyLen ? keyLen + 1 : 0;
                duk_push_lstring(ctx, p + dot, len - dot);
                duk_host_define_accessor(ctx, -2, -4, -3);
            }
            p += len;
        }
        duk_pop_3(ctx);
    }
}

} // namespace engine
