#include "mesh/name_match.h"

#include <cctype>

namespace dent {

namespace {

char folded(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

bool startsWithFolded(const char* name, const char* lowerPrefix) {
    if (name == nullptr) {
        return *lowerPrefix == '\0';
    }
    // A name that ends first fails on its terminator, which no fragment letter equals.
    for (; *lowerPrefix != '\0'; ++name, ++lowerPrefix) {
        if (folded(*name) != *lowerPrefix) {
            return false;
        }
    }
    return true;
}

bool containsFolded(const char* name, const char* lowerFragment) {
    if (name == nullptr) {
        return *lowerFragment == '\0';
    }
    do {
        if (startsWithFolded(name, lowerFragment)) {
            return true;
        }
    } while (*name++ != '\0');
    return false;
}

} // namespace dent
