// bench/bench_data.h - the inputs the benchmarks share: a fixed xorshift
// sequence, name-like pairs a few typing errors apart, and text of words.
// Every generator starts the sequence afresh, so an input is the same from
// run to run and from build to build.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace zeqbench {

// Marsaglia's xorshift32 (shifts 13, 17, 5) from his example state.
struct Xorshift {
  uint32_t x = 2463534242u;
  uint32_t next() {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

// A copy of s with `edits` random typing errors: a changed, dropped, doubled
// or inserted letter, or two neighbours swapped.  With no_trailing_blank, a
// blank the errors leave at the end becomes 'z'.
inline std::string typo(std::string s, int edits, Xorshift &r, bool no_trailing_blank = false) {
  for (int e = 0; e < edits && s.size() > 2; e++) {
    const size_t at = r.below((uint32_t)s.size() - 1);
    switch (r.below(5)) {
      case 0: s[at] = char('a' + r.below(26)); break;
      case 1: s.erase(at, 1); break;
      case 2: s.insert(at, 1, s[at]); break;
      case 3: s.insert(at, 1, char('a' + r.below(26))); break;
      default: std::swap(s[at], s[at + 1]); break;
    }
  }
  if (no_trailing_blank && s.back() == ' ') s.back() = 'z';
  return s;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

// `count` pairs: a row of min_len to max_len lower-case letters, now and then
// a blank (never first), and a copy of it with 1 to max_edits typing errors.
// With no_trailing_blank neither side ends in a blank (a final blank of the
// row becomes 'y', of the copy 'z'); the sequence drawn is the same either way.
inline Pairs make_pairs(size_t min_len, size_t max_len, int max_edits, size_t count,
                        bool no_trailing_blank = false) {
  Xorshift r;
  Pairs out;
  for (size_t i = 0; i < count; i++) {
    const size_t len = min_len + r.below((uint32_t)(max_len - min_len + 1));
    std::string a;
    for (size_t k = 0; k < len; k++) a += (k > 0 && r.below(7) == 0) ? ' ' : char('a' + r.below(26));
    if (no_trailing_blank && a.back() == ' ') a.back() = 'y';
    out.emplace_back(a, typo(a, 1 + (int)r.below((uint32_t)max_edits), r, no_trailing_blank));
  }
  return out;
}

// `count` pairs of two independent random strings of exactly `len` bytes
// (letters and blanks as in make_pairs, never ending in a blank): what a
// search for near matches mostly compares.
inline Pairs unrelated_pairs(size_t len, size_t count) {
  Xorshift r;
  auto draw = [&r, len] {
    std::string s;
    for (size_t k = 0; k < len; k++) s += (k > 0 && r.below(7) == 0) ? ' ' : char('a' + r.below(26));
    if (s.back() == ' ') s.back() = 'y';
    return s;
  };
  Pairs out;
  for (size_t i = 0; i < count; i++) {
    std::string a = draw();
    out.emplace_back(a, draw());
  }
  return out;
}

// A separator after a word of word_text, and its weight out of 16.
struct Separator {
  const char *text;
  uint32_t weight;
};

// `bytes` bytes of words of 1 to 12 letters drawn from the first `letters`
// lower-case letters, each word followed by a separator drawn by weight
// (the weights add up to 16); the last word is cut at `bytes`.
inline std::string word_text(size_t bytes, uint32_t letters, std::initializer_list<Separator> separators) {
  Xorshift r;
  std::string s;
  s.reserve(bytes);
  while (s.size() < bytes) {
    const uint32_t len = 1 + r.next() % 12;
    for (uint32_t i = 0; i < len; i++) s += char('a' + r.next() % letters);
    uint32_t pick = r.next() % 16;
    for (const Separator &sep : separators) {
      if (pick < sep.weight) {
        s += sep.text;
        break;
      }
      pick -= sep.weight;
    }
  }
  s.resize(bytes);
  return s;
}

}  // namespace zeqbench
