// tools/catalogue/exports.cc - load/exports.map: the catalogue's entries
// and twins, the random methods' builders, and every other export of the
// module in the groups below, in the order the map shows them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "charfn/catalogue.h"
#include "rng/catalogue.h"
#include "tools/catalogue/outputs.h"

namespace zeqcat {
namespace {

namespace cat = zeq::catalogue;

// Which catalogue names come first in a group, before its own names.
enum class Part { None, Table, Twins, Outside, Methods };

struct Group {
  std::string_view title;
  Part part;
  std::string_view names;  // blank-separated
};

constexpr Group kGroups[] = {
    {"module", Part::None,
       "mcn_main himodcn vi_mcn mcn_pcns pcn_ZEQWUCHA zeqwucha"},
    {"function table", Part::Table, ""},
    {"call frame", Part::None,
       "tkfncSetRetstg ComputeLength printBadmodLog"},
    {"vector forwarders", Part::None,
       "xjundls xalanch xjsympc wzsxoff wzsx8ac wtrsset wzfmhc wzrlchr xexit xmrealc xyrcgef "
       "xyrngef xpmlog xpsstr xpslog xpselec xprrlog xpopset zfmt zzeqver"},
    {"pool handlers", Part::None,
       "vmalcp_handler vmalloc_handler vmfree_handler"},
    {"kernel forwarders", Part::None,
       "tktConfigureSignals tktInitializeTKSignalHandlers tkbStartTKAT tkbLogStatMessage "
       "tkbProcessTKATcommand tkbProcessTKATrequest tkzSetSupVerNum tkzstats tkzSetDefaultLocale "
       "tkzGetIOCount tklSetLogLoc tkbLogTraceMessage tkModuleLoadp tkzGetVerconInfo tkzdttme "
       "tkzinfo tkzGetStartPort tkzGetMinPort tkzGetMaxPort tkzGetGlobalFlags tkexit "
       "tkzSetEncodings skSetAttentionNotify tkatnenq tkatndeq tktChangeMethods tktGetExcSupport "
       "tktResetMethods tktSetAsyncThreadId tktClearAsyncThreadid tktSetSignalHandlers "
       "tktClearSignalHandlers bktThreadInit bktSetupThreadStackGuar bktRestoreStackWindows "
       "tkbEnableRtrace tkbDisableRtrace tkLogRtraceEntry tkSetExternalRtrace "
       "tkbRtraceReleaseEntry tkAddAbortCallback tkRemoveAbortCallback tkInvokeAbortCallbacks "
       "tkSetExtendedPaths tktSaveFPControl tktRestoreFPControl tktMaskAllFPExceptions "
       "tkmGuessHostFriendlyMemAvail tkmrlmem tkmSetRealMemsize tktSetPthreadId tkbSetIsNative "
       "tkbClearIsNative tkzGetShortVer tkGetOSPath tkReleaseOSPath skassert tkbRegisterPerfmon "
       "tkzPushTrackResourceHandler tkzPopTrackResourceHandler tkzResourceChange "
       "tkzGetCurrRootAddr tkzSetCurrRootCB tksFindLoadlibs tkzGetDefLocale"},
    {"logger forwarders", Part::None,
       "tklMessageToBuf tklMessageToJnl tklStatusToBuf tklStatusToJnl tklGetLocale bkzGetLogTime "
       "bkzAddTimeT tkvercn1"},
    {"task context", Part::None,
       "fncinit fncrini"},
    {"byte primitives", Part::None,
       "skUnsup skStrLen skStrTLen skStrCpy skStrTCpy skStrUp skStrLow skMemNot skMemTNot "
       "skMemSet skMemTSet skMemCmp skWMemCmp skMemCpy skMemSCpy skMemDup skMemScan skMemNScan "
       "skMemTNScan skMissArray"},
    {"case tables", Part::None,
       "skz_metatable skz_upshift skz_downshift tkzstup tkzstlo tkzseqn tkzsncmp tkzstmin "
       "tkzstmax"},
    {"utf-8", Part::None,
       "_utf8_len valid_1st_utf8 valid_2nd_utf8 tkzsu8RemoveDelimiters tkzsu8NotEqual "
       "tkzsu8Delete tkzsu8AddQuotes tkzsu8Reverse"},
    {"trimming and wide strings", Part::None,
       "wzstrip zstripf zstripl tkzstrp wzstlen wzstjls vzmp vzstl wzstndx zdequote zstripn "
       "tkzsdel tkztime bkztod tkzTimeUsec"},
    {"modifiers and routes", Part::None,
       "CheckVarcharAndMultibyte hasMultiByte argInit argTerm"},
    {"multibyte routes", Part::Twins,
       "COUNT_COMMON COUNTC_COMMON COUNTW_COMMON"},
    {"functions outside the table", Part::Outside,
       "zfncmunq"},
    {"random streams", Part::None,
       "zrand_alloc_mva_reb zrand_alloc_mva zrand_alloc_tk zrand_clone zrand_clone_mva "
       "zrand_clone_tk zrndalo zrndfre zrand_seed zrand_crude zrand_init zrand_rewind "
       "zrand_method zrand_check zrand_macros zrndsp zrndIsMT32 zbugi"},
    {"method selection", Part::Methods, "zrngmeth"},
    {"diagnostics", Part::None,
       "zrngmsg"},
    {"seed helpers", Part::None,
       "zrngi31 zrngi64 zrngt32 zrngt64 zrngd2i zranuni zsknls zSessCei zLocaleh zSessToTKChar "
       "zSessFromTKChar zCharToTKChar"},
    {"hashing and hardware", Part::None,
       "zmurmur32 zmurmur64 zmurmur128 IsRdRandAvailable RdRand16 RdRand32 RdRandDb"},
    {"settings", Part::None,
       "tknrcget tknrtget tknrdget tknrlget tknrlset tknrlook tknrdset tknrtset tknrlimit "
       "tknrstol"},
};

std::vector<std::string> split(std::string_view s) {
  std::vector<std::string> out;
  while (!s.empty()) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) break;
    s.remove_prefix(b);
    const size_t e = std::min(s.find(' '), s.size());
    out.emplace_back(s.substr(0, e));
    s.remove_prefix(e);
  }
  return out;
}

// The catalogue names a group starts with.
std::vector<std::string> catalogue_part(Part part) {
  std::vector<std::string> out;
  std::vector<const cat::Function *> table;
  for (const cat::Function &f : cat::kFunctions)
    if (part == Part::Table && f.slot) table.push_back(&f);
  std::stable_sort(table.begin(), table.end(), [](auto *a, auto *b) { return a->slot < b->slot; });
  for (const cat::Function *f : table) out.emplace_back(f->entry);
  for (const cat::Function &f : cat::kFunctions) {
    if (part == Part::Twins && !f.mb_entry.empty()) out.emplace_back(f.mb_entry);
    if (part == Part::Outside && f.slot == 0) out.emplace_back(f.entry);
  }
  if (part == Part::Methods) {  // the builders of rng/methods.def, in listing order
    std::vector<const zeq::rng::catalogue::Method *> methods;
    for (const auto &m : zeq::rng::catalogue::kMethods) methods.push_back(&m);
    std::stable_sort(methods.begin(), methods.end(), [](auto *a, auto *b) { return a->listed < b->listed; });
    for (const auto *m : methods) out.emplace_back(m->builder);
  }
  return out;
}

}  // namespace

std::string exports_map() {
  std::string out =
      "/* Generated by tools/catalogue from charfn/functions.def and the\n"
      "   groups listed in the tool; do not edit.  Names the module exports,\n"
      "   with C linkage; everything else is local. */\n{\n  global:\n";
  std::set<std::string> seen;
  for (const Group &g : kGroups) {
    out += "    /* " + std::string(g.title) + " */\n";
    // The method builders follow the resolver; other catalogue names lead their group.
    std::vector<std::string> names = catalogue_part(g.part), own = split(g.names);
    names.insert(g.part == Part::Methods ? names.begin() : names.end(), own.begin(), own.end());
    for (const std::string &n : names) {
      if (!seen.insert(n).second) std::fprintf(stderr, "zeqcatalogue: %s exported twice\n", n.c_str()), std::exit(1);
      out += "    " + n + ";\n";
    }
  }
  return out + "  local:\n    *;\n};\n";
}

}  // namespace zeqcat
