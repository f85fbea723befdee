// tests/reference/words_reference.h - a plain word splitter that the tests
// hold the word functions against.  It is slow and simple on purpose: it
// first marks every byte as delimiter or not (quotes paired in the walking
// direction), then cuts the marks into words.  Used by tests only.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zeqref {

struct Word {
  int64_t offset;  // 0-based byte offset in the string
  int64_t length;
};

using DelimSet = std::array<bool, 256>;

// Words of s in walking order (left to right, or right to left with rtl).
// Without M a word is a maximal run of non-delimiters; with M the k
// delimiters cut the string into k + 1 words (an empty string is one empty
// word).  With Q the two quote characters never delimit, and no byte between
// a quote and the next quote of its kind (met in the walking direction)
// delimits; an unclosed quote runs to the end of the walk.
std::vector<Word> split_words(std::string_view s, const DelimSet &delims, bool M, bool Q, bool rtl);

// SCAN's answer for word k (k >= 1) in the walking direction: found, and
// where.  With M from the right, words beyond the start are empty at -1.
bool nth_word(std::string_view s, const DelimSet &delims, bool M, bool Q, bool rtl, int64_t k,
              Word *out);

}  // namespace zeqref
