#include "app/views/Counted.h"

#include <QLocale>

namespace zarvel {

QString groupedCount(int64_t n) {
    return QLocale().toString(static_cast<qlonglong>(n));
}

QString countNoun(int64_t n, QStringView singular, QStringView plural) {
    return (n == 1 ? singular : plural).toString();
}

QString counted(int64_t n, QStringView singular, QStringView plural) {
    return groupedCount(n) + QLatin1Char(' ') + countNoun(n, singular, plural);
}

} // namespace zarvel
