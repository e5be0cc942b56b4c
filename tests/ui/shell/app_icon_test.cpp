// The program's icon: drawn from the one built-in drawing, and the same pixels
// as the PNGs the build renders for installing.
#include <QIcon>
#include <QImage>
#include <QString>
#include <gtest/gtest.h>

#include "ui/shell/app_icon.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent {
namespace {

QImage iconAt(const QIcon& icon, int side)
{
    return icon.pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32);
}

bool near(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST(AppIcon, AWhiteGaugeOnTheTealTileThatFillsSmallSizesOnly)
{
    const auto icon = appIcon();
    ASSERT_FALSE(icon.isNull()) << "the built-in drawing is missing or invalid";
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(icon.availableSizes().contains(QSize(side, side))) << side;

    const auto large = iconAt(icon, 256);
    EXPECT_EQ(large.pixelColor(128, 1).alpha(), 0) << "a margin around the tile";
    EXPECT_TRUE(near(large.pixelColor(128, 230), CorvalentStyle::teal(), 16)) << "the style's teal";
    EXPECT_EQ(large.pixelColor(128, 137), QColor(Qt::white)) << "the needle's hub";

    const auto small = iconAt(icon, 16);
    EXPECT_EQ(small.pixelColor(8, 0).alpha(), 255) << "the tile fills a small square";
    EXPECT_LT(small.pixelColor(0, 0).alpha(), 255) << "with rounded corners";
}

TEST(AppIcon, InstalledSizesAreTheWindowsPixels)
{
    const auto icon = appIcon();
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        const auto file = QStringLiteral(CORVALENT_ICON_FOLDER "/%1x%1/apps/corvalent.png").arg(side);
        const QImage installed(file);
        ASSERT_FALSE(installed.isNull()) << file.toStdString();
        EXPECT_EQ(installed.convertToFormat(QImage::Format_ARGB32), iconAt(icon, side)) << side;
    }
    EXPECT_EQ(QImage(QStringLiteral(CORVALENT_ICON_FOLDER "/512x512/apps/corvalent.png")).size(), QSize(512, 512));
}

}  // namespace
}  // namespace corvalent
