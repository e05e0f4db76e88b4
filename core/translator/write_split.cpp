// The writer's statement sequence, and a large program's statements written on two threads:
// the second half by a writer of its own into an output of its own, appended when both are
// done. That writer starts from the state the first is expected to reach at the split (the
// output's line and last character after the statement before it, where a statement
// written in step with its source leaves them); if the first ends elsewhere, the second
// half is written again after it. Either way the output is the one a single writer gives.
#include "core/translator/writer.h"

#include <exception>
#include <system_error>
#if !defined(_WIN32)
#include <thread>
#endif

namespace translator {

namespace {

// Below this many bytes of source a program is written on one thread: starting one costs
// more than it saves.
constexpr uint32_t kSplitBytes = 256 * 1024;

} // namespace

uint32_t Writer::writeStatements(Node* body, uint32_t from, uint32_t to, uint32_t pos) {
    for (uint32_t i = from; i < to; i++) {
        Node* s = body->list[i];
        copy(pos, s->start);
        write(s);
        pos = s->end;
    }
    return pos;
}

uint32_t Writer::writeProgram(Node* body, uint32_t from, uint32_t pos) {
    uint32_t count = body->count;
#if defined(_WIN32)
    return writeStatements(body, from, count, pos);
#else
    if (oneThread || count - from < 2 || body->end - pos < kSplitBytes || fn_->rewriteAll)
        return writeStatements(body, from, count, pos);
    // The split: the first statement starting past the middle of the source.
    uint32_t middle = pos + (body->end - pos) / 2, split = from + 1;
    while (split < count - 1 && body->list[split]->start < middle)
        split++;
    // Where the first writer is expected to be after the statement before the split.
    uint32_t firstTok = tokenAfter(body->list[split - 1]);
    const Token& last = tok(firstTok - 1);
    uint32_t line = last.line + countLines(src_ + last.start, src_ + last.end);
    char back = last.asi ? ';' : src_[last.end - 1];
    std::vector<uint8_t> asi;

    Writer second(p_, names_);
    FnCtx ctx;
    ctx.scope = fn_->scope;
    ctx.thisName = fn_->thisName;
    ctx.argsName = fn_->argsName;
    ctx.tempsUsed = ctx.tempsMax = fn_->tempsUsed;
    second.fn_ = &ctx;
    second.outLine_ = line;
    uint32_t secondPos = 0;
    std::exception_ptr failure;
    // The second thread prepares its own output, and keeps the semicolons its writer takes
    // off the tokens (of its half alone) to put them back if its output is not used.
    std::thread thread;
    auto writeSecond = [&] {
        try {
            asi.resize(p_.tokens.size() - firstTok);
            for (size_t k = 0; k < asi.size(); k++)
                asi[k] = p_.tokens[firstTok + k].asi;
            second.out_.reserve(size_t(body->end - body->list[split]->start) * 3 + 64);
            second.out_ += back; // what the output ends with, for the spacing after it
            secondPos = second.writeStatements(body, split, count, body->list[split - 1]->end);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    try {
        thread = std::thread(writeSecond);
    } catch (const std::system_error&) { // no thread to be had: all of it on this one
        return writeStatements(body, from, count, pos);
    }
    try {
        pos = writeStatements(body, from, split, pos);
    } catch (...) {
        thread.join();
        throw;
    }
    thread.join();
    if (out_.empty() || out_.back() != back || outLine_ != line) {
        for (size_t k = 0; k < asi.size(); k++)
            p_.tokens[firstTok + k].asi = asi[k];
        return writeStatements(body, split, count, pos);
    }
    if (failure) std::rethrow_exception(failure);
    uint32_t shift = static_cast<uint32_t>(out_.size()) - 1;
    for (FunctionSpan s : second.spans) {
        s.outStart += shift;
        s.outEnd += shift;
        spans.push_back(s);
    }
    std::string text = second.out_.take();
    out_.append(text.data() + 1, text.size() - 1);
    outLine_ = second.outLine_;
    fn_->tempsMax = std::max(fn_->tempsMax, ctx.tempsMax);
    fn_->vars.insert(fn_->vars.end(), ctx.vars.begin(), ctx.vars.end());
    return secondPos;
#endif
}

} // namespace translator
