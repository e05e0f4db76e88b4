// How deep a document's entity references nest, kept up to date as its entities are
// declared. expat expands a reference inside another entity by recursing, once per level,
// so a document whose entities nest past a bound is refused while its DTD is read, before
// any of them is expanded.
#ifndef CAPSULE_XML_ENTITY_DEPTH_H
#define CAPSULE_XML_ENTITY_DEPTH_H

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace xml {

// The deepest nesting of entity references accepted (an entity whose text refers to
// nothing is 1 deep).
constexpr uint32_t kMaxEntityDepth = 64;

struct EntityGraph {
    struct Entity {
        uint32_t depth = 0; // 0 while undeclared: a reference to it expands nothing
        bool declared = false;
        std::vector<uint32_t> referrers; // the entities whose text refers to this one
    };
    std::unordered_map<std::string, uint32_t> index;
    std::vector<Entity> entities;
};

// Adds an entity's replacement text (null for an external or unparsed one); the first
// declaration of a name is the one that holds. False when some entity now nests deeper
// than kMaxEntityDepth, or refers to itself through others.
bool declareEntity(EntityGraph& g, const char* name, const char* value, size_t size);

} // namespace xml

#endif
