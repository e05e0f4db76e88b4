// The translator's entry (translate.h): the quick scan, then parse, resolve and write.
#include "core/translator/translate.h"

#include "core/translator/parser.h"
#include "core/translator/resolve.h"
#include "core/translator/writer.h"

#include <algorithm>

namespace translator {

Translation translate(const char* src, size_t len, int flags) {
    Translation t;
    if (!(flags & TRANSLATE_CHECK) && !mayNeedTranslation(src, len)) return t;
    if (len > kMaxSource) {
        if (flags & TRANSLATE_CHECK) return t; // the engine's own message stands
        t.failed = t.rangeError = true;
        t.line = 1;
        t.message = "source too large to translate (more than 8 MiB)";
        return t;
    }
    Arena arena;
    Parser parser(src, len, &arena);
    try {
        ParseMode mode = (flags & TRANSLATE_FUNCTION) ? PARSE_FUNCTION
                         : (flags & TRANSLATE_EVAL)   ? PARSE_EVAL
                                                      : PARSE_PROGRAM;
        Node* root = parser.parse(mode, flags & TRANSLATE_STRICT);
        Names names(parser.tokens, src);
        resolve(parser, names);
        if (parser.dirty.empty() || (flags & TRANSLATE_CHECK)) return t;
        Writer writer(parser, names);
        writer.oneThread = (flags & TRANSLATE_ONE_THREAD) != 0;
        t.text = writer.run(root);
        t.changed = true;
        t.functions = std::move(writer.spans);
        std::sort(
            t.functions.begin(), t.functions.end(),
            [](const FunctionSpan& a, const FunctionSpan& b) { return a.outStart < b.outStart; });
    } catch (const SyntaxFailure& f) {
        // A syntax check of source that the engine refused: nesting the translator does
        // not follow leaves the engine's own message.
        if ((flags & TRANSLATE_CHECK) && f.message == kTooDeep) return t;
        t.failed = true;
        t.typeError = f.typeError;
        t.line = f.line;
        t.message = f.message;
    }
    return t;
}

} // namespace translator
