// Key and value names as entries of the registry store's folders (registry_names.cpp).
#ifndef CAPSULE_REGISTRY_NAMES_H
#define CAPSULE_REGISTRY_NAMES_H

#include <string>

namespace platform {
namespace regnames {

// A name as a plain entry: what a file name cannot hold or what the store reserves ('/',
// '\', '%', '@', control characters, a leading dot) as %XX.
std::string escape(const std::string& name);
std::string unescape(const std::string& entry);
// A name folded for comparison: each character by its simple upper-case mapping, bytes
// that are no UTF-8 kept distinct.
std::u32string fold(const std::string& name);
// A name whose plain entry would not fit in a file name (the temporary names of writers
// included) is stored under a long entry: "%~" and 16 hex digits of a hash of its folded
// form (with "-n" after it when another name has the same hash), the name itself kept
// inside. '%' of a plain entry is always escaped, so the two never meet.
bool fitsPlain(const std::string& name);
std::string longStem(const std::string& name);
bool isLong(const char* entry);

} // namespace regnames
} // namespace platform

#endif
