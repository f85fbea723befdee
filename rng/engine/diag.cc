// rng/engine/diag.cc - zrngmsg, the one door through which every message of
// the random engine reaches the host journal.
//
// The engine passes a message number and its arguments; the texts belong to
// the host catalogue.  Four settings decide what is shown:
//   OSENV.ZEQ_RNG_SEVERITY    treats traces (severity 0 and 1) as another
//                             severity (default: as they are);
//   OSENV.ZEQ_RNG_MESSAGES    the lowest severity shown (default 4: errors);
//   OSENV.ZEQ_RNG_NOTE_LIMIT  countdown of messages shown as notes;
//   OSENV.ZEQ_RNG_ERROR_LIMIT countdown of warnings and errors.
// The countdowns live in the name/value store, so they are shared by every
// stream and task of the process and last as long as the host keeps them.
#include <cstdarg>
#include <cstdint>

#include "module/frame.h"
#include "rng/engine.h"
#include "strkernel/tktext.h"

namespace {

using zeq::tk::TKText;

constexpr TKText kSeverity{"OSENV.ZEQ_RNG_SEVERITY"};
constexpr TKText kMessages{"OSENV.ZEQ_RNG_MESSAGES"};
constexpr TKText kNoteLimit{"OSENV.ZEQ_RNG_NOTE_LIMIT"};
constexpr TKText kErrorLimit{"OSENV.ZEQ_RNG_ERROR_LIMIT"};

constexpr TKText kNo{"NO"};
constexpr TKText kNone{"NONE"};
constexpr TKText kError{"ERROR"};
constexpr TKText kErrors{"ERRORS"};
constexpr TKText kWarn{"WARN"};
constexpr TKText kWarning{"WARNING"};
constexpr TKText kWarnings{"WARNINGS"};
constexpr TKText kNote{"NOTE"};
constexpr TKText kNotes{"NOTES"};
constexpr TKText kYes{"YES"};
constexpr TKText kInfo{"INFO"};
constexpr TKText kAll{"ALL"};

constexpr int64_t kDefaultLimit = 100;
constexpr int kDefaultThreshold = ZRNG_SEV_ERROR;
constexpr int kSilent = 9;

}  // namespace

extern "C" ZEQ_EXPORT int32_t zrngmsg(int32_t severity, int32_t number, ...) {
  ZeqLogger *lg = zeq::journal();
  if (!lg) return 0;

  // Traces may be promoted (or silenced further) as a whole.
  if (severity < ZRNG_SEV_NOTE) {
    severity = tknrlook(kSeverity.get(), kSeverity.length(), severity,
                        kError.get(), 4, kErrors.get(), 4,
                        kWarn.get(), 3, kWarning.get(), 3, kWarnings.get(), 3,
                        kNote.get(), 2, kNotes.get(), 2, kYes.get(), 2,
                        kInfo.get(), 1, kAll.get(), 0, static_cast<const TKChar *>(nullptr));
  }

  int threshold = tknrlook(kMessages.get(), kMessages.length(), kDefaultThreshold,
                           kNo.get(), kSilent, kNone.get(), kSilent,
                           kError.get(), 4, kErrors.get(), 4,
                           kWarn.get(), 3, kWarning.get(), 3, kWarnings.get(), 3,
                           kNote.get(), 2, kNotes.get(), 2, kYes.get(), 2,
                           kInfo.get(), 1, kAll.get(), 0, static_cast<const TKChar *>(nullptr));
  if (severity < threshold) return 0;

  int level;
  if (severity <= ZRNG_SEV_NOTE) {
    if (tknrlimit(kNoteLimit.get(), kNoteLimit.length(), kDefaultLimit) < 0) return 0;
    level = ZRNG_SEV_NOTE;
  } else {
    if (tknrlimit(kErrorLimit.get(), kErrorLimit.length(), kDefaultLimit) < 0) return 0;
    level = severity;
  }

  int32_t rc = 0;
  if (lg->status_to_jnl) {
    va_list ap;
    va_start(ap, number);
    rc = lg->status_to_jnl(lg, level, number, ap);
    va_end(ap);
  }
  if (rc != 0) tklStatusToJnl(lg, ZRNG_SEV_ERROR, rc);
  return rc;
}
