// The package-directory literal reader on any text: whatever it takes must give the value
// that evaluating the text (as an expression) gives; whatever it refuses is left alone.
#include "script_heap.h"

#include "core/engine/text.h"

#include <string.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    duk_context* ctx = fuzz::heap();
    const char* text = reinterpret_cast<const char*>(data);
    HostValue value;
    if (engine::readLiteral(engine::host(ctx), text, size, &value)) {
        // The reader takes "value", "(value)" and either with one ';' behind: evaluate
        // the same text as one parenthesized expression.
        std::string s(text, size);
        while (!s.empty() && strchr(" \t\r\n", s.back()))
            s.pop_back();
        if (!s.empty() && s.back() == ';') s.pop_back();
        s = "(" + s + "\n)";
        size_t n;
        const char* source = engine::bytesAsUtf8(ctx, s.data(), s.size(), &n);
        bool evaluated = fuzz::evaluate(ctx, source, n);
        // The engine's parser refuses some texts that strtod reads (1e99999) and nesting
        // beyond its limit: a RangeError.
        if (!evaluated && duk_get_error_code(ctx, -1) == DUK_ERR_RANGE_ERROR) {
            duk_set_top(ctx, 0);
            return 0;
        }
        if (!evaluated) {
            fprintf(stderr, "taken by the reader, refused by evaluation: %s\n",
                    duk_safe_to_string(ctx, -1));
            abort();
        }
        fuzz::expectSame(ctx, 0, -1, true, "literal reader against evaluation");
    }
    duk_set_top(fuzz::heap(), 0);
    return 0;
}
