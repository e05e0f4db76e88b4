// A regular expression from the input, in the forms of the script language, compiled and
// run on a short input: it returns (no crash, no hang, no C stack overflow), and fails
// only as the language says: a SyntaxError for a pattern it does not take, an
// InternalError for one too complex. The pattern reaches the engine's compiler through
// translator::translateRegExp (core/translator/regexp.cpp), as every pattern does.
#include "script_heap.h"

#include "core/engine/text.h"

#include <string.h>
#include <string>

namespace {

// Backtracking grows with the input's length to the power of the pattern's nesting: a
// short input keeps each run short.
constexpr size_t kMaxInput = 16;

const char* kRun = R"(
(function (pattern, flags, input) {
    var re;
    try {
        re = new RegExp(pattern, flags);
    } catch (e) {
        if (e.name === "SyntaxError" || e.name === "InternalError") return "refused";
        throw e;
    }
    try {
        var m = re.exec(input);
        return m === null ? "null" : m.join("|");
    } catch (e) {
        if (e.name === "InternalError") return "too complex";
        throw e;
    }
}))";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // flags byte, pattern up to a NUL byte, then the input
    if (size < 1) return 0;
    static const char* const kFlags[] = {"", "i", "m", "g", "im", "gi"};
    const char* flags = kFlags[data[0] % 6];
    const char* begin = reinterpret_cast<const char*>(data) + 1;
    const char* end = reinterpret_cast<const char*>(data) + size;
    const char* nul = static_cast<const char*>(memchr(begin, 0, end - begin));
    std::string pattern(begin, nul ? nul : end);
    std::string input = nul ? std::string(nul + 1, end) : std::string();
    if (input.size() > kMaxInput) input.resize(kMaxInput);

    duk_context* ctx = fuzz::heap();
    if (duk_peval_string(ctx, kRun) != 0) abort();
    engine::pushBytes(ctx, pattern.data(), pattern.size());
    duk_push_string(ctx, flags);
    engine::pushBytes(ctx, input.data(), input.size());
    if (duk_pcall(ctx, 3) != 0) {
        fprintf(stderr, "the pattern failed otherwise: %s\n", duk_safe_to_string(ctx, -1));
        abort();
    }
    duk_set_top(ctx, 0);
    return 0;
}
