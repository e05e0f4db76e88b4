// The expression that an error is about, as the script wrote it: "o.f is not a function"
// and "u is undefined" name it. The engine knows the values and the property key, not the
// text, so the text is found on the line where the error happened: the one expression there
// that can be the subject. A pure function of the line's text, without the engine.
#ifndef CAPSULE_ENGINE_ERROR_SUBJECT_H
#define CAPSULE_ENGINE_ERROR_SUBJECT_H

#include <stddef.h>
#include <string>

namespace engine {

enum class Subject {
    kBase,           // the object of a property access with the key: u in u.x, o.a in o.a[i]
    kPropertyCallee, // the function of a property call with the key: o.f in o.f(1), a[i] in a[i]()
    kVariableCallee, // the variable a call calls: f in f(1)
    kValueCallee,    // the computed value a call calls: g() in g()(), (a || b) in (a || b)()
    kCallee,         // either of the last two
    kConstructor,    // the operand of new: o.C in new o.C(1)
};

// The text of the one expression on `line` (UTF-8) that can be the subject, or "" when
// the line holds none or several different ones: a wrong name is worse than none.
// A key is the property key as a string; haveKey false when there is none.
std::string subjectText(const char* line, size_t length, Subject kind, const char* key,
                        size_t keyLength, bool haveKey);
// Frees the calling thread's kept answers (they are made again when next needed).
void releaseSubjectAnswers();

} // namespace engine

#endif
