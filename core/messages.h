// core/messages.h - the numbers of the host's catalogue messages (set
// FNC_MSG_SET) that the module issues through xpmlog, one name per number.
#pragma once

namespace zeq::msg {

inline constexpr int kNumericOperation = 1;   // COMPCOST: operation argument is numeric
inline constexpr int kCharacterCost = 2;      // COMPCOST: cost argument is character
inline constexpr int kCostOutOfRange = 3;     // COMPCOST: cost not a whole 32-bit value
inline constexpr int kBadModifier = 6;        // modifier character not valid in a function
inline constexpr int kPatternTooLong = 7;     // FINDLEV: pattern too long for the level
inline constexpr int kLengthCut = 8;          // SUBPAD: length asked cut to the room
inline constexpr int kOddArgumentCount = 9;   // COMPCOST: operations and costs unpaired
inline constexpr int kShortInPlace = 27;      // result short, in-place form
inline constexpr int kShortResult = 28;       // result short
inline constexpr int kShortNotesEnd = 29;     // fifth short result: later ones are silent
inline constexpr int kAbsentArgument = 32;    // argument absent
inline constexpr int kEmptyArgument = 33;     // argument empty
inline constexpr int kBlankArgument = 34;     // argument blanks only
inline constexpr int kUnknownOperation = 39;  // COMPCOST: no such operation
inline constexpr int kEmptyName = 40;         // NLITERAL: text empty
inline constexpr int kNameTooLong = 41;       // NLITERAL: name longer than the result
inline constexpr int kQuoteInList = 80;       // quoted words: delimiter list holds a quote

}  // namespace zeq::msg
