// tkzstup / tkzstlo with the reference host's locale object (ICU case
// mappings) in the kernel table: units above 127 follow the locale, units of
// 127 and below the built-in tables; the case-blind comparisons and the class
// routines never consult the locale.  This executable's host is built with the
// locale object, so the table-only path of the other case tests is not
// disturbed.
#include <gtest/gtest.h>

#include <vector>

#include "host/host.h"
#include "strkernel/strkernel.h"

namespace {

zeqhost::Host &locale_host() {
  static zeqhost::Host *h = [] {
    zeqhost::HostOptions o;
    o.locale = true;
    return new zeqhost::Host(o);
  }();
  return *h;
}

struct Row {
  TKChar in;
  TKChar upper;  // tkzstup with the locale
  TKChar lower;  // tkzstlo with the locale
};

TEST(CaseWithLocale, UnitsAbove127FollowTheLocale) {
  ASSERT_TRUE(locale_host().loaded()) << locale_host().load_error();
  ASSERT_NE(locale_host().kernel()->locale, nullptr);
  const Row rows[] = {
      {'a', 'A', 'a'},          // tables
      {'Z', 'Z', 'z'},          // tables
      {0x00E9, 0x00C9, 0x00E9}, // both agree
      {0x0450, 0x0400, 0x0450}, // absent from the built-in tables, known to the locale
      {0x0400, 0x0400, 0x0450},
      {0x0131, 0x0049, 0x0131}, // dotless i: the tables leave it, the locale upper-cases it
      {0x00DF, 0x00DF, 0x00DF}, // no simple upper case
      {0x1F600, 0x1F600, 0x1F600},
  };
  for (const auto &r : rows) {
    TKChar u = r.in, l = r.in;
    tkzstup(&u, 1);
    tkzstlo(&l, 1);
    EXPECT_EQ(u, r.upper) << std::hex << r.in;
    EXPECT_EQ(l, r.lower) << std::hex << r.in;
  }
}

TEST(CaseWithLocale, ComparisonsAndClassesIgnoreTheLocale) {
  ASSERT_TRUE(locale_host().loaded());
  // U+0400 / U+0450 are a pair only for the locale: the table-based
  // comparisons still tell them apart.
  const TKChar a[] = {0x0400}, b[] = {0x0450};
  EXPECT_EQ(tkzseqn(a, 1, b, 1), 0);
  EXPECT_EQ(tkzsncmp(a, 1, b, 1), -2);
  std::vector<TKChar> k = {'k', 'K', 0x212A};
  tkzstmin(k.data(), (int64_t)k.size());
  EXPECT_EQ(k, (std::vector<TKChar>{'K', 'K', 'K'}));
}

}  // namespace
