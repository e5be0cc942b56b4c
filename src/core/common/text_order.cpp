#include "core/common/text_order.h"

#include <QCollator>
#include <QLocale>
#include <QString>

namespace corvalent {
namespace {

// QCollator ignores numeric mode in the C locale, which build machines and
// many services run with: fall back to English there.
QCollator makeCollator()
{
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

}  // namespace

bool localizedStandardLess(std::string_view a, std::string_view b)
{
    // One collator per thread: QCollator is not safe to share between threads.
    thread_local const QCollator collator = makeCollator();
    const auto left = QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()));
    const auto right = QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
    const int order = collator.compare(left, right);
    return order != 0 ? order < 0 : a < b;
}

}  // namespace corvalent
