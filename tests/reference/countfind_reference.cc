// tests/reference/countfind_reference.cc - the plain loops of
// countfind_reference.h.
#include "tests/reference/countfind_reference.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace zeqref {

namespace {

uint8_t at(std::string_view s, int64_t i) { return static_cast<uint8_t>(s[static_cast<size_t>(i)]); }

bool same_byte(uint8_t a, uint8_t b, const uint8_t *up) { return up ? up[a] == up[b] : a == b; }

bool holds(std::string_view s, int64_t x, std::string_view w, const uint8_t *up) {
  const int64_t k = static_cast<int64_t>(w.size());
  if (x < 0 || x + k > static_cast<int64_t>(s.size())) return false;
  for (int64_t j = 0; j < k; j++)
    if (!same_byte(at(s, x + j), at(w, j), up)) return false;
  return true;
}

}  // namespace

int64_t count_occurrences(std::string_view s, std::string_view w, const uint8_t *up) {
  const int64_t n = static_cast<int64_t>(s.size()), k = static_cast<int64_t>(w.size());
  if (k == 0) return 0;
  int64_t count = 0;
  for (int64_t x = 0; x + k <= n;) {
    if (holds(s, x, w, up)) {
      count++;
      x += k;
    } else {
      x++;
    }
  }
  return count;
}

int64_t first_occurrence(std::string_view s, std::string_view w, const uint8_t *up, int64_t lo,
                         int64_t hi) {
  const int64_t k = static_cast<int64_t>(w.size());
  if (k == 0) return -1;
  for (int64_t x = lo; x + k <= hi; x++)
    if (holds(s, x, w, up)) return x;
  return -1;
}

int64_t last_occurrence(std::string_view s, std::string_view w, const uint8_t *up, int64_t hi) {
  const int64_t k = static_cast<int64_t>(w.size());
  if (k == 0) return -1;
  for (int64_t x = hi - k; x >= 0; x--)
    if (holds(s, x, w, up)) return x;
  return -1;
}

int64_t count_members(std::string_view s, const ByteFlags &set, int64_t lo, int64_t hi) {
  int64_t count = 0;
  for (int64_t i = lo; i < hi; i++) count += set[at(s, i)];
  return count;
}

int64_t first_member(std::string_view s, const ByteFlags &set, int64_t lo, int64_t hi) {
  for (int64_t i = lo; i < hi; i++)
    if (set[at(s, i)]) return i;
  return -1;
}

int64_t last_member(std::string_view s, const ByteFlags &set, int64_t lo, int64_t hi) {
  for (int64_t i = hi - 1; i >= lo; i--)
    if (set[at(s, i)]) return i;
  return -1;
}

int64_t find_word(std::string_view s, std::string_view w, const ByteFlags &delims,
                  const uint8_t *up, bool rtl, int64_t start0, bool E, bool M) {
  const int64_t n = static_cast<int64_t>(s.size()), k = static_cast<int64_t>(w.size());
  if (k > n || (k == 0 && !M)) return 0;
  auto delim = [&](int64_t i) { return i < 0 || i >= n || delims[at(s, i)]; };

  if (!rtl) {
    // The first candidate.
    int64_t first = start0;
    if (first > 0)
      while (first <= n && !delim(first - 1)) first++;
    int64_t words = 0;
    for (int64_t x = first; x + k <= n; x++) {
      const bool candidate = x == first || delim(x - 1);
      // Word numbers: with M every candidate is a word; without M a word
      // starts at a non-delimiter that is a candidate.
      if (candidate && (M || !delim(x))) words++;
      if (!candidate) continue;
      if (holds(s, x, w, up) && delim(x + k)) return E ? words : x + 1;
    }
    return 0;
  }
  int64_t first = start0;  // a word end
  if (first < n - 1)
    while (first >= -1 && !delim(first + 1)) first--;
  int64_t words = 0;
  for (int64_t e = first; e - k + 1 >= 0; e--) {
    const bool candidate = e == first || delim(e + 1);
    if (candidate && (M || !delim(e))) words++;
    if (!candidate) continue;
    const int64_t b = e - k + 1;
    if (holds(s, b, w, up) && delim(b - 1)) return E ? words : b + 1;
  }
  return 0;
}

int64_t find_anchored(std::string_view s, std::string_view w, const uint8_t *fold_up,
                      const uint8_t *fold_low, const ByteFlags &is_boundary, int64_t lo,
                      int64_t hi, bool P, bool S, bool lead_ok, bool tail_ok) {
  const int64_t k = static_cast<int64_t>(w.size());
  for (int64_t x = lo; x + k <= hi; x++) {
    bool ok = true;
    for (int64_t j = 0; j < k && ok; j++) {
      const uint8_t b = at(s, x + j), c = at(w, j);
      ok = fold_up ? (b == fold_up[c] || b == fold_low[c]) : b == c;
    }
    if (!ok) continue;
    // P: with the leading boundary inside the searched part it is a byte
    // before x; at lo it is the place before the part.
    if (P && !(x == lo ? lead_ok : is_boundary[at(s, x - 1)])) continue;
    if (S && !(x + k == hi ? tail_ok : is_boundary[at(s, x + k)])) continue;
    return x;
  }
  return -1;
}

void set_text(zeqtest::Call &call, int i, const char *text) {
  FncString *s = call.string_arg(i);
  s->data = const_cast<char *>(text);
  s->length = static_cast<int64_t>(std::strlen(text));
  s->maxLength = s->length;
}

bool is_missing_value(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits == 0xFFFFFE0000000000ull;
}

int rerun_with_generic_build() {
  std::string self(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (n <= 0) return -1;
  self.resize(static_cast<size_t>(n));
  const std::string cmd = "ZEQ_FORCE_GENERIC=1 '" + self + "' --gtest_filter=-Builds.* > /dev/null 2>&1";
  return std::system(cmd.c_str());
}

}  // namespace zeqref
