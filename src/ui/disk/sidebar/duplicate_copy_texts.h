#pragma once

// How the rows of a verified duplicate set name their copies. The copies
// are one file in several folders, so the folders where their paths part
// are what tells them apart: a path too long for its row loses the folders
// it shares with its nearest sibling first, then the end they share, and
// the part between last.

#include <QFontMetricsF>
#include <QString>

#include <vector>

namespace corvalent {

// What a copy's path shares with its nearest sibling (the one sharing the
// most leading folders): the length of those leading folders with their last
// "/", and of the whole trailing components the two also share, with their
// first "/". The characters between are where the two part.
struct DuplicateCopyParts {
    qsizetype shared = 0;
    qsizetype sharedEnd = 0;
};

std::vector<DuplicateCopyParts> duplicateCopyParts(const std::vector<QString>& paths);

// `path` fitted to `width`: whole when it fits; else the shared leading
// folders become "…/"; then the shared end is shortened in the middle; the
// parting folders are shortened only when nothing else is left to shorten.
QString duplicateCopyText(const QString& path, DuplicateCopyParts parts, const QFontMetricsF& metrics, double width);

// The texts of a verified set's rows, in its order, each fitted to `width`.
std::vector<QString> duplicateCopyTexts(const std::vector<QString>& paths, const QFontMetricsF& metrics,
                                        double width);

}  // namespace corvalent
