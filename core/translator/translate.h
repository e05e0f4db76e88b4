// The translator: JavaScript 1.7 (with the 1.8 additions scripts of that era use) in,
// ECMAScript 5.1 out, every token on its original line; or a located error. A pure function
// of its input: core/engine/translate_hook.cpp puts it in front of the engine's compiler.
// The room core/translator/ is pure: it includes nothing of the project outside itself,
// no engine header and no operating-system header.
#ifndef CAPSULE_TRANSLATOR_TRANSLATE_H
#define CAPSULE_TRANSLATOR_TRANSLATE_H

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

namespace translator {

enum TranslateFlags {
    TRANSLATE_EVAL = 1,       // eval code (else a program)
    TRANSLATE_FUNCTION = 2,   // the source is one function expression (the Function constructor)
    TRANSLATE_STRICT = 4,     // strict code from the start
    TRANSLATE_ONE_THREAD = 8, // a large program too is written on the calling thread alone
    TRANSLATE_CHECK = 16,     // parse the source whatever the quick scan says, for its syntax
                              // errors only: nothing is written
};

// Where a function written by the translator lies in its output and in the source: the
// output from its first token (`function`, or an accessor's parameter list) to its closing
// brace, and the source it was written from (Function.prototype.toString gives that).
struct FunctionSpan {
    uint32_t outStart, outEnd, srcStart, srcEnd;
};

struct Translation {
    bool changed = false; // text holds the translation; else the source needs no change
    bool failed = false;  // a syntax error (or, typeError, an error the language reports as
                          // a TypeError at compile time) at line, with message
    bool typeError = false;
    bool rangeError = false; // failed: the source is too large to translate (kMaxSource)
    uint32_t line = 0;
    std::string message;
    std::string text;
    std::vector<FunctionSpan> functions; // sorted by outStart
};

// The largest source that is translated: the translation takes up to about 120 bytes of
// memory (outside the script heap) for each byte of dense source, so a larger one that
// needs translating fails with a RangeError instead. A source that needs no translation
// has no such bound.
constexpr size_t kMaxSource = size_t(8) << 20;

// False when the source holds nothing beyond ECMAScript 5.1 (a fast scan of its tokens).
bool mayNeedTranslation(const char* src, size_t len);

Translation translate(const char* src, size_t len, int flags);

// A regular expression's pattern in the forms the engine of that era accepted (\c before a
// digit, octal escapes, \8, a brace that quantifies nothing, a quantified lookahead...):
// true, with the pattern in the forms the engine compiles in *out, when it needs a change
// (regexp.cpp).
bool translateRegExp(const char* pattern, size_t length, std::string* out);

// Where a translation takes its large blocks (the syntax tree's and the tokens', 64 KiB and
// up) and gives them back: malloc and free unless the embedder sets others, before its first
// translation (core/engine/translate_hook.cpp sets the platform's).
using BlockAllocate = void* (*)(size_t size);
using BlockFree = void (*)(void* block);
void setBlockFunctions(BlockAllocate allocate, BlockFree release);

// Tells whether the calling thread's stack is nearly used up: the parser asks it every few
// levels of nesting and fails with "nesting too deep" when it says so. None unless the
// embedder sets one, before its first translation (core/engine/translate_hook.cpp does).
using StackCheck = int (*)();
void setStackCheck(StackCheck low);

} // namespace translator

#endif
