// tests/reference/edit_distance.h - plain O(mn) edit distances, used only by
// tests to check the module's COMPLEV and COMPGED.  No shortcuts: no prefix
// or suffix stripping, no band, no cutoff; a full table over the two strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zeqref {

// Levenshtein distance (insert, delete, replace one byte, each 1).
int64_t levenshtein(std::string_view a, std::string_view b);

// Cost entries, in the order of the COMPCOST table.
enum Cost {
  LEAST, INSERT, DELETE, REPLACE, FINSERT, FDELETE, FREPLACE, APPEND, TRUNCATE,
  DOUBLE, SINGLE, SWAP, BLANK, PUNCT, MATCH, COST_COUNT
};

struct GedTables {
  const uint8_t *upcase = nullptr;  // 256 entries; used when nocase
  const uint8_t *charclass = nullptr;  // 256 entries; 0x08 white space, 0x10 punctuation
};

// The generalised edit distance over a table indexed by (characters of
// string-1, characters of string-2).  Trailing blanks are dropped first;
// with nocase both strings are upper-cased; a BLANK or PUNCTUATION cost of 0
// drops those characters from both strings and the operation is then not
// used.  Every operation is written in terms of string-1 and string-2:
//   INSERT   a string-1 character alone            (i-1, j)
//   DELETE   a string-2 character alone            (i, j-1)
//   FINSERT / FDELETE  the same before the other string begins (j = 0 / i = 0)
//   APPEND   string-1 character after all of string-2 (j = n2, i > n2)
//   TRUNCATE string-2 character after all of string-1 (i = n1, j > n1)
//   REPLACE / FREPLACE / MATCH  the diagonal (FREPLACE when i = 1 or j = 1)
//   DOUBLE   s1[i] = s1[i-1] = s2[j]                (i-2, j-1)
//   SINGLE   s2[j] = s2[j-1] = s1[i]                (i-1, j-2)
//   SWAP     s1[i] = s2[j-1], s1[i-1] = s2[j]        (i-2, j-2)
//   BLANK / PUNCT  instead of INSERT, DELETE or a pairing of two such characters
int64_t generalized(std::string_view s1, std::string_view s2, const int64_t cost[COST_COUNT],
                    bool nocase, const GedTables &tables);

}  // namespace zeqref
