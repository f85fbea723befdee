// tests/reference/words_reference.cc - see words_reference.h.
#include "tests/reference/words_reference.h"


namespace zeqref {

std::vector<Word> split_words(std::string_view s, const DelimSet &delims, bool M, bool Q, bool rtl) {
  const int64_t n = static_cast<int64_t>(s.size());
  // 1. Mark each byte, walking in the scan direction so that quotes pair up
  //    the way the scan meets them.
  std::vector<bool> is_delim(s.size(), false);
  char open = 0;
  for (int64_t step = 0; step < n; step++) {
    const int64_t i = rtl ? n - 1 - step : step;
    const char c = s[i];
    const bool quote = c == '"' || c == '\'';
    if (Q && open) {
      if (c == open) open = 0;
    } else if (Q && quote) {
      open = c;
    } else {
      is_delim[i] = delims[static_cast<unsigned char>(c)];
    }
  }
  // 2. Cut into words in string order.
  std::vector<Word> out;
  if (M) {
    int64_t start = 0;
    for (int64_t i = 0; i < n; i++) {
      if (is_delim[i]) {
        out.push_back({start, i - start});
        start = i + 1;
      }
    }
    out.push_back({start, n - start});
  } else {
    for (int64_t i = 0; i < n;) {
      if (is_delim[i]) {
        i++;
        continue;
      }
      int64_t j = i;
      while (j < n && !is_delim[j]) j++;
      out.push_back({i, j - i});
      i = j;
    }
  }
  // 3. Walking order.
  if (rtl) {
    std::vector<Word> rev(out.rbegin(), out.rend());
    return rev;
  }
  return out;
}

bool nth_word(std::string_view s, const DelimSet &delims, bool M, bool Q, bool rtl, int64_t k,
              Word *out) {
  const std::vector<Word> words = split_words(s, delims, M, Q, rtl);
  if (k >= 1 && k <= static_cast<int64_t>(words.size())) {
    *out = words[static_cast<size_t>(k - 1)];
    return true;
  }
  if (M && rtl && k >= 1) {
    *out = {-1, 0};
    return true;
  }
  return false;
}

}  // namespace zeqref
