// The uppercase rule by which Windows compares file names without regard to
// case: each letter of the Basic Multilingual Plane that has a simple (one
// letter to one letter) uppercase is that letter; every other code point,
// those beyond the plane included, is compared as it is. Held as one table,
// generated from the Unicode data by tools/unicode/makeuppercase.py, so that
// every system applies the same rule.
#pragma once

#include <span>

namespace v2bsp {

struct UpperCase {
    char16_t letter;
    char16_t upper;
};

// Every letter that has an uppercase, sorted by `letter`, each once.
std::span<const UpperCase> uppercaseTable();

// The uppercase of `code`, or `code` itself when the table has none.
char32_t uppercaseOf(char32_t code);

}  // namespace v2bsp
