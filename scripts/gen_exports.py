#!/usr/bin/env python3
"""Writes load/exports.map, the linker version script of the module.

The character functions come from the catalogue (charfn/functions.def): the
entries with a table slot in slot order, the entries without one, and the
multibyte twins.  The method builders come from rng/methods.def, in listing
order.  Every other export (load entry, forwarders, kernels, random
engine, settings) is listed in GROUPS below, in the order the map shows them.

    python3 scripts/gen_exports.py           rewrite load/exports.map
    python3 scripts/gen_exports.py --check   fail when the file is stale
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
CATALOGUE = ROOT / "charfn" / "functions.def"
OUTPUT = ROOT / "load" / "exports.map"

ROW = re.compile(r'^ZEQ_FUNCTION\(\s*(\w+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\w+)\s*,\s*"(\w*)"', re.M)


def catalogue_rows():
    """(name, slot, slot2, entry, multibyte twin) of every catalogue row."""
    rows = [(m[1], int(m[2]), int(m[3]), m[4], m[5]) for m in ROW.finditer(CATALOGUE.read_text())]
    if not rows:
        sys.exit("gen_exports: no ZEQ_FUNCTION rows in " + str(CATALOGUE))
    return rows


ROWS = catalogue_rows()
CATALOGUE_TABLE = [r[3] for r in sorted((r for r in ROWS if r[1]), key=lambda r: r[1])]
CATALOGUE_OUTSIDE = [r[3] for r in ROWS if not r[1]]
CATALOGUE_MULTIBYTE = [r[4] for r in ROWS if r[4]]

# The generator methods' builders, from rng/methods.def, in listing order.
METHODS = ROOT / "rng" / "methods.def"
METHOD_ROW = re.compile(r'^ZRNG_METHOD\(\s*(\w+)\s*,\s*(\w+)\s*,\s*(\d+)\s*,', re.M)
METHOD_BUILDERS = [m[2] for m in sorted(METHOD_ROW.finditer(METHODS.read_text()), key=lambda m: int(m[3]))]

GROUPS = [
    ("module", """
    mcn_main himodcn vi_mcn mcn_pcns pcn_ZEQWUCHA zeqwucha
    """.split()),
    ("function table", CATALOGUE_TABLE),
    ("call frame", """
    tkfncSetRetstg ComputeLength printBadmodLog
    """.split()),
    ("vector forwarders", """
    xjundls xalanch xjsympc wzsxoff wzsx8ac wtrsset wzfmhc wzrlchr xexit xmrealc xyrcgef
    xyrngef xpmlog xpsstr xpslog xpselec xprrlog xpopset zfmt zzeqver
    """.split()),
    ("pool handlers", """
    vmalcp_handler vmalloc_handler vmfree_handler
    """.split()),
    ("kernel forwarders", """
    tktConfigureSignals tktInitializeTKSignalHandlers tkbStartTKAT tkbLogStatMessage
    tkbProcessTKATcommand tkbProcessTKATrequest tkzSetSupVerNum tkzstats tkzSetDefaultLocale
    tkzGetIOCount tklSetLogLoc tkbLogTraceMessage tkModuleLoadp tkzGetVerconInfo tkzdttme
    tkzinfo tkzGetStartPort tkzGetMinPort tkzGetMaxPort tkzGetGlobalFlags tkexit
    tkzSetEncodings skSetAttentionNotify tkatnenq tkatndeq tktChangeMethods tktGetExcSupport
    tktResetMethods tktSetAsyncThreadId tktClearAsyncThreadid tktSetSignalHandlers
    tktClearSignalHandlers bktThreadInit bktSetupThreadStackGuar bktRestoreStackWindows
    tkbEnableRtrace tkbDisableRtrace tkLogRtraceEntry tkSetExternalRtrace
    tkbRtraceReleaseEntry tkAddAbortCallback tkRemoveAbortCallback tkInvokeAbortCallbacks
    tkSetExtendedPaths tktSaveFPControl tktRestoreFPControl tktMaskAllFPExceptions
    tkmGuessHostFriendlyMemAvail tkmrlmem tkmSetRealMemsize tktSetPthreadId tkbSetIsNative
    tkbClearIsNative tkzGetShortVer tkGetOSPath tkReleaseOSPath skassert tkbRegisterPerfmon
    tkzPushTrackResourceHandler tkzPopTrackResourceHandler tkzResourceChange
    tkzGetCurrRootAddr tkzSetCurrRootCB tksFindLoadlibs tkzGetDefLocale
    """.split()),
    ("logger forwarders", """
    tklMessageToBuf tklMessageToJnl tklStatusToBuf tklStatusToJnl tklGetLocale bkzGetLogTime
    bkzAddTimeT tkvercn1
    """.split()),
    ("task context", """
    fncinit fncrini
    """.split()),
    ("byte primitives", """
    skUnsup skStrLen skStrTLen skStrCpy skStrTCpy skStrUp skStrLow skMemNot skMemTNot
    skMemSet skMemTSet skMemCmp skWMemCmp skMemCpy skMemSCpy skMemDup skMemScan skMemNScan
    skMemTNScan skMissArray
    """.split()),
    ("case tables", """
    skz_metatable skz_upshift skz_downshift tkzstup tkzstlo tkzseqn tkzsncmp tkzstmin
    tkzstmax
    """.split()),
    ("utf-8", """
    _utf8_len valid_1st_utf8 valid_2nd_utf8 tkzsu8RemoveDelimiters tkzsu8NotEqual
    tkzsu8Delete tkzsu8AddQuotes tkzsu8Reverse
    """.split()),
    ("trimming and wide strings", """
    wzstrip zstripf zstripl tkzstrp wzstlen wzstjls vzmp vzstl wzstndx zdequote zstripn
    tkzsdel tkztime bkztod tkzTimeUsec
    """.split()),
    ("modifiers and routes", """
    CheckVarcharAndMultibyte hasMultiByte argInit argTerm
    """.split()),
    ("multibyte routes", CATALOGUE_MULTIBYTE + """
    COUNT_COMMON COUNTC_COMMON COUNTW_COMMON
    """.split()),
    ("functions outside the table", CATALOGUE_OUTSIDE + """
    zfncmunq
    """.split()),
    ("random streams", """
    zrand_alloc_mva_reb zrand_alloc_mva zrand_alloc_tk zrand_clone zrand_clone_mva
    zrand_clone_tk zrndalo zrndfre zrand_seed zrand_crude zrand_init zrand_rewind
    zrand_method zrand_check zrand_macros zrndsp zrndIsMT32 zbugi
    """.split()),
    ("method selection", ["zrngmeth"] + METHOD_BUILDERS),
    ("diagnostics", """
    zrngmsg
    """.split()),
    ("seed helpers", """
    zrngi31 zrngi64 zrngt32 zrngt64 zrngd2i zranuni zsknls zSessCei zLocaleh zSessToTKChar
    zSessFromTKChar zCharToTKChar
    """.split()),
    ("hashing and hardware", """
    zmurmur32 zmurmur64 zmurmur128 IsRdRandAvailable RdRand16 RdRand32 RdRandDb
    """.split()),
    ("settings", """
    tknrcget tknrtget tknrdget tknrlget tknrlset tknrlook tknrdset tknrtset tknrlimit
    tknrstol
    """.split()),
]


def render():
    lines = [
        "/* Generated by scripts/gen_exports.py from charfn/functions.def and the",
        "   groups listed in the script; do not edit.  Names the module exports,",
        "   with C linkage; everything else is local. */",
        "{",
        "  global:",
    ]
    seen = set()
    for title, names in GROUPS:
        lines.append("    /* %s */" % title)
        for name in names:
            if name in seen:
                sys.exit("gen_exports: %s listed twice" % name)
            seen.add(name)
            lines.append("    %s;" % name)
    lines += ["  local:", "    *;", "};", ""]
    return "\n".join(lines)


def main(argv):
    text = render()
    if "--check" in argv:
        if not OUTPUT.exists() or OUTPUT.read_text() != text:
            sys.exit("gen_exports: load/exports.map is stale; run python3 scripts/gen_exports.py")
        return 0
    OUTPUT.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
