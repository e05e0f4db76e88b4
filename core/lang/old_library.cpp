// The natives of core/lang/old_library.js: String's HTML methods, and
// RegExp.prototype.compile, which reads the engine's regular expressions and so lives in
// its unit (core/engine/duktape/regexp_call.cpp).
#include "core/engine/internal.h"
#include "core/engine/text.h"

#include <vector>

namespace engine {

namespace {

struct HtmlTag {
    const char* method;
    const char* tag;
    const char* attribute; // the argument's, or null for a method without one
};
constexpr HtmlTag kHtmlTags[] = {
    {"anchor", "a", "name"},      {"big", "big", nullptr},       {"blink", "blink", nullptr},
    {"bold", "b", nullptr},       {"fixed", "tt", nullptr},      {"fontcolor", "font", "color"},
    {"fontsize", "font", "size"}, {"italics", "i", nullptr},     {"link", "a", "href"},
    {"small", "small", nullptr},  {"strike", "strike", nullptr}, {"sub", "sub", nullptr},
    {"sup", "sup", nullptr},
};

// Pushes the string at idx with each " as &quot;, so that it stays one attribute value.
void pushAttributeValue(duk_context* ctx, duk_idx_t idx) {
    size_t n;
    const uint16_t* c = readChars(ctx, idx, &n);
    std::vector<uint16_t> out;
    out.reserve(n);
    for (size_t i = 0; i < n; i++) {
        if (c[i] != '"') {
            out.push_back(c[i]);
            continue;
        }
        for (const char* q = "&quot;"; *q; q++)
            out.push_back(static_cast<uint16_t>(*q));
    }
    duk_pop(ctx);
    pushChars(ctx, out.data(), out.size());
}

// "<tag>" + this + "</tag>", or '<tag attribute="argument">' + this + "</tag>".
template <int I> duk_ret_t html(duk_context* ctx) {
    const HtmlTag& t = kHtmlTags[I];
    duk_push_this(ctx);
    if (duk_is_null_or_undefined(ctx, -1))
        duk_error_raw(ctx, DUK_ERR_TYPE_ERROR | kNoBlame, nullptr, 0, "%s: no string", t.method);
    duk_idx_t text = duk_get_top_index(ctx);
    duk_to_string(ctx, text);
    duk_push_literal(ctx, "<");
    duk_push_string(ctx, t.tag);
    if (t.attribute) {
        duk_push_sprintf(ctx, " %s=\"", t.attribute);
        duk_dup(ctx, 0);
        duk_to_string(ctx, -1);
        pushAttributeValue(ctx, -1);
        duk_remove(ctx, -2);
        duk_push_literal(ctx, "\"");
    }
    duk_push_literal(ctx, ">");
    duk_dup(ctx, text);
    duk_push_sprintf(ctx, "</%s>", t.tag);
    duk_concat(ctx, duk_get_top(ctx) - text - 1);
    return 1;
}

} // namespace

// The order of kHtmlTags; each with its name and length (one when it takes an argument).
extern const duk_function_list_entry kOldLibraryNatives[] = {
    {"anchor", html<0>, 1},   {"big", html<1>, 0},
    {"blink", html<2>, 0},    {"bold", html<3>, 0},
    {"fixed", html<4>, 0},    {"fontcolor", html<5>, 1},
    {"fontsize", html<6>, 1}, {"italics", html<7>, 0},
    {"link", html<8>, 1},     {"small", html<9>, 0},
    {"strike", html<10>, 0},  {"sub", html<11>, 0},
    {"sup", html<12>, 0},     {"compile", duk_host_regexp_compile, 2},
    {nullptr, nullptr, 0},
};

} // namespace engine
