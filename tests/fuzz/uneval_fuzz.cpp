// uneval on values that the input builds: numbers of any bits, strings of any code units,
// arrays with holes, objects with any keys, wrappers, dates, shared parts, cycles, getters
// that throw and functions. Plain data must evaluate back the same, and the literal
// reader, where it takes the text, must agree.
#include "script_heap.h"

#include "core/engine/text.h"

#include <string.h>

namespace {

constexpr duk_idx_t kMaxValues = 32;

struct Input {
    const uint8_t* p;
    const uint8_t* end;
    bool more() const { return p < end; }
    unsigned byte() { return p < end ? *p++ : 0; }
};

// Kinds of value after which eval(uneval(v)) is not expected to be v.
struct Build {
    bool plain = true;
    int shared = 0; // uneval writes a shared part in full each time: at most 2^6 copies
};

const char* kHelpers = R"(
(function (kind, v, o) {
    if (kind === 7) {
        try { o.back = v; } catch (e) {} // frozen, or a wrapper's own index
        return;
    }
    if (typeof v === 'object' && v !== null) v = 1;
    switch (kind) {
    case 0: return new Number(v);
    case 1: return new String(v);
    case 2: return new Boolean(v);
    case 3: return new Date(v);
    case 4: return function f(a) { return a + 1; };
    case 5: return Object.defineProperty({}, 'g', {get: function () { throw new Error('g'); },
                                                   enumerable: true});
    default: return Object.freeze([v]);
    }
}))";

void pushHelper(duk_context* ctx) {
    duk_push_global_stash(ctx);
    if (!duk_get_prop_string(ctx, -1, "make")) {
        duk_pop(ctx);
        if (duk_peval_string(ctx, kHelpers) != 0) abort();
        duk_dup_top(ctx);
        duk_put_prop_string(ctx, -3, "make");
    }
    duk_remove(ctx, -2);
}

void pushString(duk_context* ctx, Input& in, bool wide) {
    size_t n = in.byte() % 24;
    if (!wide) {
        std::string s;
        while (n-- && in.more())
            s.push_back(static_cast<char>(in.byte()));
        engine::pushBytes(ctx, s.data(), s.size());
        return;
    }
    uint16_t units[24];
    size_t k = 0;
    while (k < n && in.more()) {
        unsigned lo = in.byte();
        units[k++] = static_cast<uint16_t>(lo | (in.byte() << 8));
    }
    engine::pushChars(ctx, units, k);
}

void pushNumber(duk_context* ctx, Input& in) {
    static const double special[] = {-0.0,  0.0 / 0.0,    1.0 / 0.0, -1.0 / 0.0,
                                     1e300, 2147483648.0, 5e-324,    0.1};
    unsigned kind = in.byte();
    if (kind < 128) {
        duk_push_int(ctx, int(kind) - 64);
    } else if (kind < 248) {
        duk_push_number(ctx, special[kind % 8]);
    } else {
        uint64_t bits = 0;
        for (int i = 0; i < 8; i++)
            bits = bits << 8 | in.byte();
        double d;
        memcpy(&d, &bits, sizeof d);
        duk_push_number(ctx, d);
    }
}

// Pops up to n values into a new array; bit i of holes leaves element i out.
void makeArray(duk_context* ctx, duk_idx_t n, unsigned holes) {
    duk_push_array(ctx);
    duk_idx_t first = duk_get_top(ctx) - 1 - n;
    for (duk_idx_t i = 0; i < n; i++) {
        if (holes & (1u << i)) continue;
        duk_dup(ctx, first + i);
        duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i));
    }
    duk_push_uint(ctx, static_cast<duk_uint_t>(n));
    duk_put_prop_string(ctx, -2, "length");
    if (n == 0) return;
    duk_replace(ctx, first);
    duk_pop_n(ctx, n - 1);
}

// Pops up to n values into a new object, each under a key that the input spells.
void makeObject(duk_context* ctx, duk_idx_t n, Input& in) {
    duk_push_object(ctx);
    duk_idx_t first = duk_get_top(ctx) - 1 - n;
    for (duk_idx_t i = 0; i < n; i++) {
        pushString(ctx, in, in.byte() & 1);
        if (!strcmp(duk_get_string(ctx, -1), "__proto__")) {
            duk_pop(ctx);
            continue; // a prototype, not a property
        }
        duk_dup(ctx, first + i);
        duk_put_prop(ctx, -3);
    }
    if (n == 0) return;
    duk_replace(ctx, first);
    duk_pop_n(ctx, n - 1);
}

void step(duk_context* ctx, Input& in, Build& b) {
    duk_idx_t top = duk_get_top(ctx);
    unsigned op = in.byte();
    switch (op % 10) {
    case 0:
        pushNumber(ctx, in);
        break;
    case 1:
    case 2:
        pushString(ctx, in, op % 10 == 2);
        break;
    case 3:
        static const duk_int_t kinds[] = {DUK_TYPE_UNDEFINED, DUK_TYPE_NULL, DUK_TYPE_BOOLEAN};
        switch (kinds[(op / 10) % 3]) {
        case DUK_TYPE_UNDEFINED:
            duk_push_undefined(ctx);
            break;
        case DUK_TYPE_NULL:
            duk_push_null(ctx);
            break;
        default:
            duk_push_boolean(ctx, op & 0x80);
        }
        break;
    case 4: {
        duk_idx_t n = static_cast<duk_idx_t>(in.byte() % 6);
        makeArray(ctx, n < top ? n : top, in.byte());
        break;
    }
    case 5: {
        duk_idx_t n = static_cast<duk_idx_t>(in.byte() % 6);
        makeObject(ctx, n < top ? n : top, in);
        break;
    }
    case 6: { // a wrapper, a date, a function, a throwing getter, a frozen array
        unsigned kind = in.byte() % 7;
        if (kind == 4 || kind == 5) b.plain = false;
        pushHelper(ctx);
        duk_push_uint(ctx, kind);
        if (top > 0)
            duk_dup(ctx, top - 1);
        else
            duk_push_undefined(ctx);
        if (duk_pcall(ctx, 2) != 0) abort();
        break;
    }
    case 7: // a part shared by two places
        if (top > 0 && b.shared++ < 6)
            duk_dup(ctx, static_cast<duk_idx_t>(in.byte() % unsigned(top)));
        break;
    case 8: // a cycle: an object that holds an earlier value that may hold it
        if (top > 1 && duk_is_object(ctx, top - 1) && duk_is_object(ctx, 0)) {
            pushHelper(ctx);
            duk_push_uint(ctx, 7);
            duk_dup(ctx, top - 1);
            duk_dup(ctx, 0);
            if (duk_pcall(ctx, 3) != 0) abort();
            duk_pop(ctx);
            b.plain = false;
        }
        break;
    default:
        if (top > 0) duk_pop(ctx);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    duk_context* ctx = fuzz::heap();
    Input in{data, data + size};
    Build b;
    while (in.more() && duk_get_top(ctx) < kMaxValues)
        step(ctx, in, b);
    makeArray(ctx, duk_get_top(ctx), 0); // index 0: every value built
    duk_get_global_string(ctx, "uneval");
    duk_dup(ctx, 0);
    if (duk_pcall(ctx, 1) == 0 && duk_is_string(ctx, -1)) { // index 1: the text
        size_t n;
        const char* text = duk_get_lstring(ctx, 1, &n);
        if (b.plain) {
            if (fuzz::evaluate(ctx, text, n))
                fuzz::expectSame(ctx, 0, -1, true, "eval(uneval(v)) against v");
            else if (!duk_is_error(ctx, -1) ||
                     duk_get_error_code(ctx, -1) != DUK_ERR_RANGE_ERROR) { // only nesting
                fprintf(stderr, "uneval wrote what does not evaluate: %s\n", text);
                abort();
            }
        }
        size_t bytes;
        const char* narrow = engine::readBytes(ctx, 1, &bytes);
        HostValue literal;
        if (b.plain && engine::readLiteral(engine::host(ctx), narrow, bytes, &literal))
            fuzz::expectSame(ctx, 0, -1, false, "the literal reader on uneval's text against v");
    }
    duk_set_top(ctx, 0);
    return 0;
}
