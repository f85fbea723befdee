// load/entry.cc - load-time binding: mcn_main, the image
// record vi_mcn, the entry list mcn_pcns and the entry record pcn_ZEQWUCHA.
//
// The host loads the library, calls mcn_main once with its global control
// block and process information block, follows vi_mcn -> mcn_pcns ->
// pcn_ZEQWUCHA to the entry zeqwucha (load/function_table.cc) and calls it
// for the function table.  The three anchors are written here and never
// again (the anchors themselves live in core/anchors.cc).
#include "load/entry.h"

namespace {

// The build's own identification texts.
constexpr char kTag[] = "ZEQ_Image_Information=";
constexpr char kReleaseShort[] = "1.0";
constexpr char kReleaseFull[] = "1.0.0 zeqwucha";
constexpr char kBuildDate[] = __DATE__;  // "Mmm dd yyyy"
constexpr char kLevel[] = "001";
constexpr char kBanner[] =
    "zeqwucha 1.0: character functions, string kernel and random-number engine";

static_assert(sizeof(kTag) - 1 == 22, "image tag is 22 bytes");
static_assert(sizeof(kReleaseShort) <= 6, "short release text fits 6 bytes");
static_assert(sizeof(kReleaseFull) <= 18, "release text fits 18 bytes");
static_assert(sizeof(kBuildDate) - 1 + 2 <= 16, "build date fits after two zero bytes");

template <size_t N, size_t M>
constexpr void put_text(char (&field)[N], const char (&text)[M], size_t at = 0) {
  static_assert(M - 1 <= N, "text longer than its field");
  for (size_t i = 0; i + 1 < M && at + i < N; i++) field[at + i] = text[i];
}

constexpr ZeqImageInfo make_image() {
  ZeqImageInfo v{};
  put_text(v.tag, kTag);
  v.stamp = 0xB0BDEBEDu;
  v.zero = 0;
  v.eight = 8;
  put_text(v.release_short, kReleaseShort);
  put_text(v.release_full, kReleaseFull);
  put_text(v.build_date, kBuildDate, 2);  // two zero bytes first
  v.entries = mcn_pcns;
  v.banner = kBanner;
  put_text(v.level, kLevel);
  return v;
}

constexpr ZeqEntryRecord make_entry() {
  ZeqEntryRecord e{};
  const uint8_t marker[8] = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  for (int i = 0; i < 8; i++) e.marker[i] = marker[i];
  e.size1 = 1024;
  e.size2 = 1024;
  put_text(e.name, "zeqwucha");
  e.entry = zeqwucha;
  e.one = 1;
  e.id = 9683;  // 0x25D3
  e.code = 0x2001CC7E;
  e.fifteen = 15;
  return e;
}

}  // namespace

extern "C" {

ZEQ_EXPORT const ZeqEntryRecord pcn_ZEQWUCHA = make_entry();

// The entry list: one entry record, then the closing null.
ZEQ_EXPORT void *const mcn_pcns[2] = {const_cast<ZeqEntryRecord *>(&pcn_ZEQWUCHA), nullptr};

ZEQ_EXPORT const ZeqImageInfo vi_mcn = make_image();

ZEQ_EXPORT void himodcn(void) {}

ZEQ_EXPORT const void *mcn_main(ZeqControlBlock *gcb, void *pidb) {
  v_global_gcb_anchor = gcb;
  v_global_pidb_anchor = pidb;
  himodcn();
  Exported_TKHandle = gcb ? gcb->kernel : nullptr;
  return &vi_mcn;
}

}  // extern "C"
