// The translator's middle stage (resolve.cpp): name resolution for block-scoped bindings,
// how each is written, and the flagging of what cannot be copied as it stands.
#ifndef CAPSULE_TRANSLATOR_RESOLVE_H
#define CAPSULE_TRANSLATOR_RESOLVE_H

#include "core/translator/parser.h"

#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace translator {

// Names the writer makes up: none of them is a name of the source.
class Names {
  public:
    Names(const std::vector<Token, BlockAllocator<Token>>& tokens, const char* src);
    // A new name for a renamed binding: base$N.
    std::string fresh(const Name& base);
    // The prefix of the writer's own names (temporaries, the generator's state...).
    const std::string& prefix() const { return prefix_; }
    // The array that holds the bindings of a block of a generator (Scope::holder), made
    // anew on each entry so that closures made in different entries keep different ones.
    std::string holder(uint32_t n) const { return prefix_ + "b" + std::to_string(n); }
    // Closures (function expressions, generator expressions) that keep such bindings: the
    // arrays they are handed when they are made.
    std::unordered_map<const Scope*, std::vector<std::string>> keeps;

  private:
    std::set<std::string> dollar_; // names of the source that hold a `$`
    std::string prefix_;
    int counter_ = 0;
};

void resolve(Parser& p, Names& names);

} // namespace translator

#endif
