#include "ui/disk/sidebar/duplicate_copy_texts.h"

#include <algorithm>
#include <optional>

namespace corvalent {
namespace {

const QString ellipsis = QStringLiteral("\u2026");

// The length of the leading folders two paths share, with their last "/";
// the file names never count.
qsizetype sharedFolders(const QString& a, const QString& b)
{
    const auto last = std::min(a.lastIndexOf(u'/'), b.lastIndexOf(u'/'));
    qsizetype shared = 0;
    for (qsizetype i = 0; i <= last && a[i] == b[i]; ++i)
        if (a[i] == u'/') shared = i + 1;
    return shared;
}

// The length of the whole trailing components two paths share, from the
// "/" before them, and never reaching into the first `from` characters.
qsizetype sharedEnding(const QString& a, const QString& b, qsizetype from)
{
    qsizetype shared = 0;
    for (qsizetype i = 1; i <= std::min(a.size(), b.size()) - from && a[a.size() - i] == b[b.size() - i]; ++i)
        if (a[a.size() - i] == u'/') shared = i;
    return shared;
}

}  // namespace

std::vector<DuplicateCopyParts> duplicateCopyParts(const std::vector<QString>& paths)
{
    std::vector<DuplicateCopyParts> parts(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::optional<std::size_t> nearest;
        for (std::size_t j = 0; j < paths.size(); ++j) {
            if (j == i || paths[j] == paths[i]) continue;
            const auto shared = sharedFolders(paths[i], paths[j]);
            if (!nearest || shared > parts[i].shared) {
                nearest = j;
                parts[i].shared = shared;
            }
        }
        // The root alone is no shorter for the ellipsis.
        if (parts[i].shared <= 1) parts[i].shared = 0;
        if (nearest) parts[i].sharedEnd = sharedEnding(paths[i], paths[*nearest], std::max<qsizetype>(parts[i].shared, 1));
    }
    return parts;
}

QString duplicateCopyText(const QString& path, DuplicateCopyParts parts, const QFontMetricsF& metrics, double width)
{
    const auto fits = [&](const QString& text) { return metrics.horizontalAdvance(text) <= width; };
    if (fits(path)) return path;
    const auto lead = parts.shared > 0 ? ellipsis + u'/' : QString();
    const auto rest = path.mid(parts.shared);
    if (fits(lead + rest)) return lead + rest;
    const auto parting = rest.left(rest.size() - parts.sharedEnd);
    const auto ending = rest.right(parts.sharedEnd);
    const double room = width - metrics.horizontalAdvance(lead + parting);
    // The shared end shortened, as long as a little of it is still seen.
    if (!ending.isEmpty() && room >= metrics.horizontalAdvance(ellipsis + QStringLiteral("/ab")))
        return lead + parting + metrics.elidedText(ending, Qt::ElideMiddle, room);
    return lead + metrics.elidedText(rest, Qt::ElideMiddle, std::max(0.0, width - metrics.horizontalAdvance(lead)));
}

std::vector<QString> duplicateCopyTexts(const std::vector<QString>& paths, const QFontMetricsF& metrics,
                                        double width)
{
    const auto parts = duplicateCopyParts(paths);
    std::vector<QString> texts;
    texts.reserve(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) texts.push_back(duplicateCopyText(paths[i], parts[i], metrics, width));
    return texts;
}

}  // namespace corvalent
