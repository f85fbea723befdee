// tools/zeq/registry.h - the functions zeq offers, read from the catalogue
// (charfn/functions.def): lookup by name and the texts built from a row.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "charfn/catalogue.h"

namespace zeqtool {

using Function = zeq::catalogue::Function;

// Every function a user may call, in catalogue order (hidden rows left out).
std::vector<const Function *> functions();
// The row of an upper-case name a user may call, or null.
const Function *find_function(std::string_view upper_name);

// The row a statement may call as written (CALL form or function form), or
// null with the sentence in `error` (unknown name, or the wrong form).
const Function *callable(const std::string &upper_name, bool call_form, std::string &error);

// "COMPGED(s1, s2 [, cutoff] [, modifiers])", with " | CALL CATB(target, item, ...)"
// when the function has a CALL form too.
std::string usage_line(const Function &f);

// The "; "-separated pairs of a catalogue field ("a: b; c: d" or "I=...; L=..."),
// split at the first `sep` of each pair.
std::vector<std::pair<std::string, std::string>> field_pairs(std::string_view field, char sep);

}  // namespace zeqtool
