// A reader for the literal texts that uneval writes (objects, arrays, strings, numbers,
// booleans and null, optionally in parentheses): the package directory is such a text.
// It builds the same value that evaluating the text would, without compiling it, which
// matters for a directory of a thousand entries. Anything else is left to evaluation.
#include "core/engine/internal.h"

#include "core/engine/text.h"
#include "core/module_helpers.h"

#include <stdlib.h>
#include <string.h>
#include <string>

namespace engine {

namespace {

struct Reader {
    duk_context* ctx;
    const char* p;
    const char* end;
    int depth;
    // While the directory is read: the interned name "csize", where the value of the
    // entry's last member of that name sits on the stack (0: none yet), and that value as
    // the entry's size in the package once the entry is made.
    void* csizeName = nullptr;
    duk_idx_t csizeAt = 0;
    bool haveCsize = false;
    int32_t entryCsize = 0;

    void space() {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            p++;
    }
    bool eat(char c) {
        space();
        if (p < end && *p == c) {
            p++;
            return true;
        }
        return false;
    }
    static int hex(char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    }
    bool hexRun(int n, unsigned* v) {
        if (end - p < n) return false;
        *v = 0;
        for (int i = 0; i < n; i++) {
            int h = hex(p[i]);
            if (h < 0) return false;
            *v = *v * 16 + unsigned(h);
        }
        p += n;
        return true;
    }
    // A quoted string; the text is narrow, one character per byte.
    bool string() {
        char quote = *p++;
        const char* start = p;
        while (p < end && *p != quote && *p != '\\' && *p != '\n' && *p != '\r')
            p++;
        if (p < end && *p == quote) { // nothing to unescape: the common case
            pushBytes(ctx, start, static_cast<size_t>(p - start));
            p++;
            return true;
        }
        p = start;
        std::u16string s;
        while (p < end && *p != quote) {
            unsigned char c = static_cast<unsigned char>(*p++);
            if (c == '\n' || c == '\r') return false;
            if (c != '\\') {
                s.push_back(c);
                continue;
            }
            if (p >= end) return false;
            char e = *p++;
            unsigned v;
            switch (e) {
            case 'n':
                s.push_back('\n');
                break;
            case 'r':
                s.push_back('\r');
                break;
            case 't':
                s.push_back('\t');
                break;
            case 'b':
                s.push_back('\b');
                break;
            case 'f':
                s.push_back('\f');
                break;
            case 'v':
                s.push_back('\v');
                break;
            case '0':
                if (p < end && *p >= '0' && *p <= '9') return false; // octal: not ours
                s.push_back(0);
                break;
            case 'x':
                if (!hexRun(2, &v)) return false;
                s.push_back(static_cast<char16_t>(v));
                break;
            case 'u':
                if (!hexRun(4, &v)) return false;
                s.push_back(static_cast<char16_t>(v));
                break;
            default:
                if ((e >= '1' && e <= '9') || e == '\n' || e == '\r') return false;
                s.push_back(static_cast<unsigned char>(e));
            }
        }
        if (p >= end) return false;
        p++;
        pushChars(ctx, reinterpret_cast<const uint16_t*>(s.data()), s.size());
        return true;
    }
    // Decimal numbers only; the text is ASCII so strtod reads it exactly.
    bool number() {
        const char* s = p;
        if (*p == '-') p++;
        if (p >= end || *p < '0' || *p > '9') return false;
        if (*p == '0' && p + 1 < end && p[1] >= '0' && p[1] <= '9') return false; // octal
        // Whole numbers of up to 15 digits (sizes, times) are exact in a double as read.
        const char* first = p;
        int64_t whole = 0;
        while (p < end && *p >= '0' && *p <= '9' && p - first < 15)
            whole = whole * 10 + (*p++ - '0');
        if (p == end || !((*p >= '0' && *p <= '9') || *p == '.' || *p == 'e' || *p == 'E')) {
            double d = static_cast<double>(whole);
            duk_push_number(ctx, *s == '-' ? -d : d);
            return true;
        }
        while (p < end && ((*p >= '0' && *p <= '9') || *p == '.' || *p == 'e' || *p == 'E' ||
                           ((*p == '+' || *p == '-') && (p[-1] == 'e' || p[-1] == 'E'))))
            p++;
        std::string digits(s, static_cast<size_t>(p - s));
        char* stop;
        double d = strtod(digits.c_str(), &stop);
        if (*stop) return false;
        duk_push_number(ctx, d);
        return true;
    }
    static bool identStart(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
    }
    bool word(const char* w) {
        size_t n = strlen(w);
        if (size_t(end - p) < n || memcmp(p, w, n) ||
            (p + n < end && (identStart(p[n]) || (p[n] >= '0' && p[n] <= '9'))))
            return false;
        p += n;
        return true;
    }
    // A property name: identifier, quoted string or number, pushed as a string.
    bool key() {
        space();
        if (p >= end) return false;
        if (*p == '\'' || *p == '"') return string();
        if (identStart(*p)) {
            const char* s = p;
            while (p < end && (identStart(*p) || (*p >= '0' && *p <= '9')))
                p++;
            duk_push_lstring(ctx, s, static_cast<size_t>(p - s));
            return true;
        }
        if (!number()) return false;
        duk_to_string(ctx, -1);
        return true;
    }
    // An object: its members are read onto the stack first, so that the object is made
    // with room for all of them (and `extra` more). They are defined as a literal
    // defines them, never through setters.
    bool object(unsigned extra = 0) {
        duk_idx_t base = duk_get_top(ctx);
        unsigned n = 0;
        if (!eat('}')) {
            do {
                if (!key()) return false;
                // "__proto__" means more in a literal than a plain key.
                if (!strcmp(duk_get_string(ctx, -1), "__proto__") || !eat(':') || !value())
                    return false;
                // A directory's entry (depth 0): interned names compare by pointer.
                if (csizeName && depth == 0 && duk_get_heapptr(ctx, -2) == csizeName)
                    csizeAt = duk_get_top(ctx) - 1;
                n++;
            } while (eat(','));
            if (!eat('}')) return false;
        }
        if (csizeAt && depth == 0) { // converted from a copy: the member keeps its value
            duk_require_stack(ctx, 1);
            duk_dup(ctx, csizeAt);
            entryCsize = hostToInt32(duk_to_number(ctx, -1));
            duk_pop(ctx);
            haveCsize = true;
        }
        return make(base, n, extra, false);
    }
    // The object for the n name/value pairs above base, made at base in their place;
    // false for a repeated name when the names must be unique.
    bool make(duk_idx_t base, unsigned n, unsigned extra, bool unique) {
        duk_host_push_object_sized(ctx, n + extra);
        duk_insert(ctx, base);
        for (unsigned i = 0; i < n; i++) {
            duk_idx_t name = base + 1 + 2 * duk_idx_t(i);
            duk_dup(ctx, name);
            duk_dup(ctx, name + 1);
            // Own names only: "toString" is a name like any other.
            if (!duk_host_define_member(ctx, base, true) && unique) return false;
        }
        duk_set_top(ctx, base + 1);
        return true;
    }
    // The package directory: an object whose values are the entries. Each entry object
    // gets `pos` (enumerable, read-only) as it is read: `pos` for the first, then the one
    // before plus that one's csize as a 32-bit integer, in the order of the text, which
    // is the order in which the object enumerates its names. A name that breaks that
    // order (an array index, a repeated name) gives false, and the caller reads the text
    // the general way. Each name is defined as the object's own, so "__proto__" names a
    // file as any other name does.
    bool directory(double pos) {
        if (!eat('{')) return false;
        duk_push_literal(ctx, "csize"); // kept below the members, so the pointer stays valid
        csizeName = duk_get_heapptr(ctx, -1);
        duk_idx_t base = duk_get_top(ctx);
        unsigned n = 0;
        if (!eat('}')) {
            do {
                if (!key()) return false;
                const char* name = duk_get_string(ctx, -1);
                if ((*name >= '0' && *name <= '9') || !eat(':')) return false;
                space();
                if (p < end && *p == '{') { // an entry: room for pos too
                    p++;
                    duk_require_stack(ctx, 4);
                    csizeAt = 0, haveCsize = false;
                    if (!object(1)) return false;
                } else if (!value()) {
                    return false;
                }
                if (duk_is_object(ctx, -1)) { // an entry, or an array
                    duk_push_literal(ctx, "pos");
                    duk_push_number(ctx, pos);
                    duk_host_define_member(ctx, -3, false); // read-only
                    if (!haveCsize) { // none of its own: what the object inherits, if any
                        duk_get_prop_literal(ctx, -1, "csize");
                        entryCsize =
                            hostToInt32(duk_is_undefined(ctx, -1) ? 0 : duk_to_number(ctx, -1));
                        duk_pop(ctx);
                    }
                    pos += entryCsize;
                    haveCsize = false;
                }
                n++;
            } while (eat(','));
            if (!eat('}')) return false;
        }
        // A repeated name would enumerate once, where the pos above counted it twice.
        if (!make(base, n, 0, true)) return false;
        duk_remove(ctx, -2); // the name "csize"
        return true;
    }
    bool array() {
        duk_push_array(ctx);
        duk_uarridx_t i = 0;
        if (eat(']')) return true;
        for (;;) {
            space();
            if (p < end && *p == ',') { // a hole
                p++;
                i++;
                continue;
            }
            if (p < end && *p == ']') break;
            if (!value()) return false;
            duk_put_prop_index(ctx, -2, i++);
            if (!eat(',')) break;
        }
        duk_push_uint(ctx, i);
        duk_put_prop_literal(ctx, -2, "length");
        return eat(']');
    }
    bool value() {
        if (++depth > 1000) return false;
        duk_require_stack(ctx, 4);
        space();
        bool ok = false;
        if (p < end) {
            char c = *p;
            if (c == '{')
                p++, ok = object();
            else if (c == '[')
                p++, ok = array();
            else if (c == '\'' || c == '"')
                ok = string();
            else if (c == '-' || (c >= '0' && c <= '9'))
                ok = number();
            else if (word("true"))
                duk_push_true(ctx), ok = true;
            else if (word("false"))
                duk_push_false(ctx), ok = true;
            else if (word("null"))
                duk_push_null(ctx), ok = true;
        }
        depth--;
        return ok;
    }
};

struct Job {
    const char* text;
    size_t size;
    bool ok;
    bool directory;  // read as a package directory
    double firstPos; // the first entry's pos
};

duk_ret_t readTop(duk_context* ctx, void* udata) {
    Job* job = static_cast<Job*>(udata);
    Reader r{ctx, job->text, job->text + job->size, 0};
    bool paren = r.eat('(');
    job->ok = (job->directory ? r.directory(job->firstPos) : r.value()) && (!paren || r.eat(')'));
    r.eat(';');
    r.space();
    job->ok = job->ok && r.p == r.end;
    return 1;
}

bool read(HostContext* cx, Job job, HostValue* out) {
    duk_context* ctx = duk(cx);
    if (!duk_check_stack(ctx, 4)) return false;
    if (duk_safe_call(ctx, readTop, &job, 0, 1) != DUK_EXEC_SUCCESS || !job.ok) {
        duk_pop(ctx);
        return false;
    }
    *out = box(ctx, -1); // stays on the stack for the running native
    return true;
}

} // namespace

bool readLiteral(HostContext* cx, const char* text, size_t size, HostValue* out) {
    return read(cx, Job{text, size, false, false, 0}, out);
}

bool readDirectory(HostContext* cx, const char* text, size_t size, double firstPos,
                   HostValue* out) {
    return read(cx, Job{text, size, false, true, firstPos}, out);
}

} // namespace engine
