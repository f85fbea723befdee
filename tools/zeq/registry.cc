#include "tools/zeq/registry.h"

namespace zeqtool {

namespace {
using S = Shape;
// name, symbol, slot, shape, multibyte twin, CALL result argument, CALL ok, function ok, usage
const std::vector<FunctionInfo> kFunctions = {
    {"ANYFIRST", "fncanyfirst", 1, S::Number, nullptr, 0, false, true, "ANYFIRST(string [, start])"},
    {"ANYNAME", "fncanyname", 2, S::Number, nullptr, 0, false, true, "ANYNAME(string [, start])"},
    {"CAT", "fnccat", 3, S::Char, nullptr, 0, false, true, "CAT(item, ...)"},
    {"CATB", "fnccatb", 4, S::Char, nullptr, 1, true, true, "CATB(item, ...) | CALL CATB(target, item, ...)"},
    {"CATC", "fnccatc", 6, S::Char, nullptr, 1, true, true, "CATC(item, ...) | CALL CATC(target, item, ...)"},
    {"CATM", "fnccatm", 8, S::Char, nullptr, 2, true, true, "CATM(sep, item, ...) | CALL CATM(sep, target, item, ...)"},
    {"CATQ", "fnccatq", 12, S::Char, nullptr, 0, false, true, "CATQ(modifiers [, sep], item, ...)"},
    {"CATS", "fnccats", 14, S::Char, nullptr, 1, true, true, "CATS(item, ...) | CALL CATS(target, item, ...)"},
    {"CATT", "fnccatt", 16, S::Char, nullptr, 1, true, true, "CATT(item, ...) | CALL CATT(target, item, ...)"},
    {"CATX", "fnccatx", 18, S::Char, nullptr, 2, true, true, "CATX(sep, item, ...) | CALL CATX(sep, target, item, ...)"},
    {"CHAR", "fncchar", 20, S::Char, nullptr, 0, false, true, "CHAR(string, position)"},
    {"COMPCOST", "fncomcos", 21, S::Routine, nullptr, 0, true, false, "CALL COMPCOST(operation, cost, ...)"},
    {"COMPGED", "fncomged", 22, S::Number, nullptr, 0, false, true, "COMPGED(s1, s2 [, cutoff] [, modifiers])"},
    {"COMPLEV", "fncomlev", 23, S::Number, nullptr, 0, false, true, "COMPLEV(s1, s2 [, cutoff] [, modifiers])"},
    {"COUNTC", "fnccouc", 24, S::Number, nullptr, 0, false, true, "COUNTC(string, charlist [, modifiers])"},
    {"COUNTQ", "fnccouq", 25, S::Number, nullptr, 0, false, true, "COUNTQ(string [, delimiters])"},
    {"COUNTW", "fnccouw", 26, S::Number, nullptr, 0, false, true, "COUNTW(string [, delimiters [, modifiers]])"},
    {"FIND", "fncfind", 27, S::Number, nullptr, 0, false, true, "FIND(string, substring [, modifiers] [, start])"},
    {"FINDC", "fncfndc", 28, S::Number, nullptr, 0, false, true, "FINDC(string [, charlist] [, modifiers] [, start])"},
    {"FINDLEV", "fncfndl", 29, S::Number, nullptr, 0, false, true, "FINDLEV(string, pattern, level [, modifiers] [, start])"},
    {"FINDW", "fncfndw", 30, S::Number, nullptr, 0, false, true, "FINDW(string, word [, delimiters] [, modifiers] [, start])"},
    {"FIRST", "fncfirst", 31, S::Direct, nullptr, 0, false, true, "FIRST(string)"},
    {"POSITION", "fncndxt", 32, S::Number, nullptr, 0, false, true, "POSITION(source, excerpt)"},
    {"NVALIDCODE", "fncninv", 33, S::Number, nullptr, 0, false, true, "NVALIDCODE(name [, mode])"},
    {"NLITERAL", "fncnlit", 34, S::Direct, nullptr, 0, false, true, "NLITERAL(string)"},
    {"NOTFIRST", "fncnotfirst", 35, S::Number, nullptr, 0, false, true, "NOTFIRST(string [, start])"},
    {"NOTNAME", "fncnotname", 36, S::Number, nullptr, 0, false, true, "NOTNAME(string [, start])"},
    {"NVALID", "fncnval", 37, S::Number, nullptr, 0, false, true, "NVALID(name [, mode])"},
    {"SCANQ", "fncscnq", 38, S::Char, nullptr, 0, true, true, "SCANQ(string, n [, delimiters]) | CALL SCANQ(string, n, pos, len [, delimiters])"},
    {"SUBPAD", "fncsubp", 40, S::Char, nullptr, 0, false, true, "SUBPAD(string, position [, length])"},
    {"COMPARE", "fncompar", -1, S::Number, "COMPARE_FUNCTION", 0, false, true, "COMPARE(s1, s2 [, modifiers])"},
    {"COUNT", "fnccous", -1, S::Number, nullptr, 0, false, true, "COUNT(string, substring [, modifiers])"},
    {"SCAN", "fncscan", -1, S::Char, "SCAN_FUNCTION", 0, true, true, "SCAN(string, n [, delimiters [, modifiers]]) | CALL SCAN(string, n, pos, len [, delimiters [, modifiers]])"},
};
}  // namespace

const std::vector<FunctionInfo> &functions() { return kFunctions; }

const FunctionInfo *find_function(const std::string &upper_name) {
  for (const auto &f : kFunctions)
    if (upper_name == f.name) return &f;
  return nullptr;
}

}  // namespace zeqtool
