// Counted: a count with its noun, as the status bar, find bar and warnings show it.
// The number is grouped the way the user's locale groups it ("1,234"), and the noun is
// singular for exactly one and plural otherwise ("1 row", "0 rows", "2 rows").
//
//   counted(1234, u"row", u"rows");   // "1,234 rows"
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>

namespace zarvel {

// The number alone, grouped for the current locale.
QString groupedCount(int64_t n);
// The singular or plural word alone, for texts that put the number elsewhere.
QString countNoun(int64_t n, QStringView singular, QStringView plural);
QString counted(int64_t n, QStringView singular, QStringView plural);

} // namespace zarvel
