// argv and envp on the global object: the process's command line and environment as
// start-up hands them to the instance.
#include "core/engine/internal.h"

#include "core/engine/text.h"
#include "core/text/utf.h"

#include <string.h>
#include <string>

namespace engine {

namespace {

void pushUtf8(duk_context* ctx, const char* s, size_t n) {
    std::u16string w = text::fromUtf8(s, n);
    pushChars(ctx, reinterpret_cast<const uint16_t*>(w.data()), w.size());
}

constexpr duk_uint_t kReadOnlyEnumerable = DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_ENUMERABLE |
                                           DUK_DEFPROP_CLEAR_WRITABLE |
                                           DUK_DEFPROP_SET_CONFIGURABLE;
constexpr duk_uint_t kPlain = DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_ENUMERABLE |
                              DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE;

struct Args {
    int argc;
    char** argv;
    char** envp;
};

// argv: the property itself writable, deletable and hidden from enumeration; each element
// enumerable and read-only. envp: the same, one property per entry, the name upper-cased.
duk_ret_t defineArgs(duk_context* ctx, void* udata) {
    const Args* a = static_cast<const Args*>(udata);
    duk_push_global_object(ctx);
    duk_push_literal(ctx, "argv");
    duk_push_array(ctx);
    for (int i = 0; i < a->argc; i++) {
        duk_require_stack(ctx, 4);
        duk_push_int(ctx, i);
        pushUtf8(ctx, a->argv[i], strlen(a->argv[i]));
        duk_def_prop(ctx, -3, kReadOnlyEnumerable);
    }
    duk_def_prop(ctx, -3, kPlain);
    if (!a->envp) return 0;
    duk_push_literal(ctx, "envp");
    duk_push_object(ctx);
    for (char** e = a->envp; *e; e++) {
        const char* eq = strchr(*e, '=');
        if (!eq || eq == *e) continue; // no name
        std::string name(*e, static_cast<size_t>(eq - *e));
        for (char& c : name)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        duk_require_stack(ctx, 4);
        pushUtf8(ctx, name.data(), name.size());
        pushUtf8(ctx, eq + 1, strlen(eq + 1));
        duk_def_prop(ctx, -3, kReadOnlyEnumerable);
    }
    duk_def_prop(ctx, -3, kPlain);
    return 0;
}

} // namespace

void defineArguments(int argc, char** argv, char** envp) {
    Args args{argc, argv, envp};
    duk_context* ctx = duk(mainContext());
    int mark = duk_get_top(ctx);
    duk_safe_call(ctx, defineArgs, &args, 0, 1);
    duk_set_top(ctx, mark);
}

} // namespace engine
