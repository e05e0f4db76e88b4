// Entity nesting depths (core/xml/entity_depth.h). A declaration deepens the entities
// that refer to it, and theirs; a depth only grows and stops at the bound, so the work is
// at most the bound times the references declared, whatever order they come in.
#include "core/xml/entity_depth.h"

#include <string.h>
#include <string_view>

namespace xml {

namespace {

uint32_t entityAt(EntityGraph& g, std::string_view name) {
    auto it = g.index.emplace(std::string(name), static_cast<uint32_t>(g.entities.size()));
    if (it.second) g.entities.emplace_back();
    return it.first->second;
}

// The five entities that expat replaces itself and never looks up.
bool predefined(std::string_view n) {
    return n == "amp" || n == "lt" || n == "gt" || n == "quot" || n == "apos";
}

// Calls f with each name referred to in text as "&name;" (character references are not).
template <class F> void eachReference(const char* s, size_t n, F&& f) {
    for (size_t i = 0; i < n; i++) {
        if (s[i] != '&') continue;
        size_t j = i + 1;
        while (j < n && s[j] && !strchr(" \t\r\n&<>;\"'%", s[j]))
            j++;
        if (j < n && s[j] == ';' && j > i + 1 && s[i + 1] != '#')
            f(std::string_view(s + i + 1, j - i - 1));
        i = j - 1;
    }
}

} // namespace

bool declareEntity(EntityGraph& g, const char* name, const char* value, size_t size) {
    uint32_t e = entityAt(g, name);
    if (g.entities[e].declared) return true;
    g.entities[e].declared = true;
    uint32_t depth = 1;
    if (value) {
        eachReference(value, size, [&](std::string_view ref) {
            if (predefined(ref)) return;
            uint32_t r = entityAt(g, ref);
            std::vector<uint32_t>& back = g.entities[r].referrers;
            if (back.empty() || back.back() != e) back.push_back(e);
            if (g.entities[r].depth + 1 > depth) depth = g.entities[r].depth + 1;
        });
    }
    g.entities[e].depth = depth;
    std::vector<uint32_t> deeper{e};
    while (!deeper.empty()) {
        uint32_t c = deeper.back();
        deeper.pop_back();
        uint32_t d = g.entities[c].depth;
        if (d > kMaxEntityDepth) return false;
        for (uint32_t r : g.entities[c].referrers) {
            if (g.entities[r].depth > d) continue;
            g.entities[r].depth = d + 1;
            deeper.push_back(r);
        }
    }
    return true;
}

} // namespace xml
