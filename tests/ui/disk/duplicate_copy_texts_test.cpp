// A verified set's paths shortened for its rows: the folders where its
// copies part stay in sight at every width that can hold them.
#include <gtest/gtest.h>
#include <QFontMetricsF>

#include <vector>

#include "ui/disk/sidebar/duplicate_copy_texts.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent {
namespace {

// A copy's row keeps the folders where it parts from its nearest sibling:
// what does not fit loses the folders they share first, then the end they
// share; with room enough the full path reads.
TEST(DuplicateCopyTexts, RowsKeepTheFoldersWhereTheirCopiesPart)
{
    // In a monospaced face a width is a count of characters.
    const QFontMetricsF metrics(CorvalentStyle::monospaced(TextStyle::caption2));
    const double character = metrics.horizontalAdvance(u'x');
    const auto texts = [&](const std::vector<QString>& paths, int characters) {
        return duplicateCopyTexts(paths, metrics, characters * character + 0.5);
    };
    using Texts = std::vector<QString>;

    const Texts twins{"/home/ana/survey/2023/site-a/survey-raw.bin", "/home/ana/survey/2023/site-b/survey-raw.bin"};
    EXPECT_EQ(texts(twins, 43), twins) << "room enough: the full paths";
    EXPECT_EQ(texts(twins, 23), (Texts{"\u2026/site-a/survey-raw.bin", "\u2026/site-b/survey-raw.bin"}));

    // Each row by what it shares with its nearest sibling; a row that fits stays whole.
    const Texts three{"/home/ana/x/deep/one/survey-raw.bin", "/home/ana/x/deep/two/survey-raw.bin",
                      "/mnt/backup/survey-raw.bin"};
    EXPECT_EQ(texts(three, 26),
              (Texts{"\u2026/one/survey-raw.bin", "\u2026/two/survey-raw.bin", "/mnt/backup/survey-raw.bin"}));

    // One folder, two names: the names come first.
    EXPECT_EQ(texts({"/data/films/big/take1.mov", "/data/films/big/take2.mov"}, 12),
              (Texts{"\u2026/take1.mov", "\u2026/take2.mov"}));
    // Nothing shared but the root: nothing to drop.
    EXPECT_EQ(texts({"/a1/x.bin", "/b1/x.bin"}, 9), (Texts{"/a1/x.bin", "/b1/x.bin"}));
    // Alike only as a folder and its subfolder's name: "/p/q" is not a folder "/p/q/" shares.
    EXPECT_EQ(texts({"/p/q/x.bin", "/p/qr/x.bin"}, 10), (Texts{"/p/q/x.bin", "\u2026/qr/x.bin"}));
}

// Copies that differ only in one folder in the middle of long paths show
// that folder at every width that can hold it, the shared end shortened
// before it; the middle elision of old lost exactly that folder.
TEST(DuplicateCopyTexts, AFolderInTheMiddleWhereCopiesDifferStaysInSight)
{
    const QFontMetricsF metrics(CorvalentStyle::monospaced(TextStyle::caption2));
    const std::vector<QString> paths{
        "/home/ana/projects/research/Documents/archive/2024/quarterly/dataset.zip",
        "/home/ana/projects/research/Downloads/archive/2024/quarterly/dataset.zip"};
    const double least = metrics.horizontalAdvance(QStringLiteral("\u2026/Documents/\u2026/ab"));
    const double full = metrics.horizontalAdvance(paths[0]);
    for (double width = least; width < full + 10; width += 3) {
        SCOPED_TRACE(width);
        const auto shown = duplicateCopyTexts(paths, metrics, width);
        EXPECT_TRUE(shown[0].contains("/Documents/")) << shown[0].toStdString();
        EXPECT_TRUE(shown[1].contains("/Downloads/")) << shown[1].toStdString();
        for (const auto& text : shown) EXPECT_LE(metrics.horizontalAdvance(text), width);
        EXPECT_NE(shown[0], shown[1]);
    }
    // What a middle cut would show at a sidebar's width: the folders lost.
    const double sidebar = metrics.horizontalAdvance(QStringLiteral("/home/ana/proj\u2026/dataset.zip"));
    EXPECT_FALSE(metrics.elidedText(paths[0], Qt::ElideMiddle, sidebar).contains("Documents"));
    EXPECT_TRUE(duplicateCopyTexts(paths, metrics, sidebar)[0].contains("Documents"));
}

}  // namespace
}  // namespace corvalent
