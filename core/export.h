// core/export.h - the export marker and the short integer names every floor
// uses.  Exported names carry default visibility; everything else is hidden
// (-fvisibility=hidden) and load/exports.map lists the exports.
#pragma once

#define ZEQ_EXPORT extern "C" __attribute__((visibility("default")))

using i64 = long long;
using u64 = unsigned long long;
