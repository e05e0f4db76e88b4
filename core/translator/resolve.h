// The translator's middle stage (resolve.cpp): name resolution for block-scoped bindings,
// how each is written, and the flagging of what cannot be copied as it stands.
#ifndef CAPSULE_TRANSLATOR_RESOLVE_H
#define CAPSULE_TRANSLATOR_RESOLVE_H

#include "core/translator/parser.h"

#include <set>
#include <string>

namespace translator {

// Names the writer makes up: none of them is a name of the source.
class Names {
  public:
    Names(const std::vector<Token>& tokens, const char* src);
    // A new name for a renamed binding: base$N.
    std::string fresh(const Name& base);
    // The prefix of the writer's own names (temporaries, the generator's state...).
    const std::string& prefix() const { return prefix_; }

  private:
    std::set<std::string> dollar_; // names of the source that hold a `$`
    std::string prefix_;
    int counter_ = 0;
};

void resolve(Parser& p, Names& names);

} // namespace translator

#endif
