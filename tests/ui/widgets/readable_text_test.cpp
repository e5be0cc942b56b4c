// Text a person can read: every text colour of the style against every
// surface text is drawn on, in both appearances, and long words and quoted
// names that fit the width a label has without hiding the rest.
#include <QTextDocument>
#include <gtest/gtest.h>

#include <cmath>

#include "ui/shell/app_appearance.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"

#include "readable_texts.h"

namespace corvalent {
namespace {

using testing::plainToolTip;

constexpr double textMinimum = 4.5;

struct Appearance {
    const char* name;
    QPalette palette;
};

std::vector<Appearance> appearances()
{
    return {{"light", lightPalette()}, {"dark", darkPalette()}};
}

// What a colour looks like drawn on `surface`: a see-through one blends.
QColor seenOn(const QColor& ink, const QColor& surface)
{
    return Contrast::over(surface, QColor(ink.rgb()), ink.alphaF());
}

// The warning orange of a refusal measured 2.02:1 on the light window; each
// text colour the style gives now reads at 4.5:1 on each surface under text,
// and an accent keeps its hue.
TEST(TextColours, EveryTextColourReadsOnEverySurfaceInBothAppearances)
{
    using namespace CorvalentStyle;
    const std::vector<std::pair<const char*, QColor>> tints{
        {"teal", teal()}, {"cyan", cyan()}, {"indigo", indigo()}, {"orange", orange()}, {"red", red()}};
    EXPECT_LT(Contrast::ratio(orange(), windowBackground(lightPalette())), 2.1) << "the bright tint alone";
    for (const auto& [look, palette] : appearances()) {
        const auto surfaces = textSurfaces(palette);
        ASSERT_GE(surfaces.size(), 16U);
        for (const auto& surface : surfaces) {
            const auto where = std::string(look) + " on " + surface.name().toStdString();
            for (const auto& [style, colour] : {std::pair("primary", primary(palette)),
                                                std::pair("secondary", secondary(palette)),
                                                std::pair("tertiary", tertiary(palette))})
                EXPECT_GE(Contrast::ratio(seenOn(colour, surface), surface), textMinimum) << style << ", " << where;
            EXPECT_GT(Contrast::ratio(seenOn(secondary(palette), surface), surface),
                      Contrast::ratio(seenOn(tertiary(palette), surface), surface))
                << "secondary stands above tertiary, " << where;
            for (const auto& [name, tint] : tints) {
                const auto text = textTint(tint, palette);
                EXPECT_GE(Contrast::ratio(text, surface), textMinimum) << name << ", " << where;
                EXPECT_LE(std::abs(text.hslHue() - tint.hslHue()), 3) << name << " keeps its hue, " << where;
            }
        }
        // Labels and badges given a bright tint draw its readable shade.
        ElidedLabel label(QStringLiteral("In use by make"), font(TextStyle::caption2), Tones::fixed(orange()));
        Badge badge(QStringLiteral("LOW RISK"), Tones::fixed(teal()), Badge::Look{});
        label.setPalette(palette);
        badge.setPalette(palette);
        for (const auto& surface : surfaces) {
            EXPECT_GE(Contrast::ratio(label.colour(), surface), textMinimum) << look;
            EXPECT_GE(Contrast::ratio(badge.colour(), surface), textMinimum) << look;
        }
    }
}

// White labels on the accent and on red read at 4.5:1 as well.
TEST(TextColours, AFilledButtonIsDeepEnoughForItsWhiteLabel)
{
    for (const auto kind : {Button::Kind::prominent, Button::Kind::destructive}) {
        Button button(kind, QStringLiteral("Move to Trash"));
        button.setPalette(lightPalette());
        button.resize(button.sizeHint());
        const auto image = button.grab().toImage();
        const auto fill = image.pixelColor(image.width() / 2, 3);
        EXPECT_GE(Contrast::ratio(fill, Qt::white), textMinimum) << fill.name().toStdString();
    }
}

// A sentence that quotes a long name or path keeps every other word whole
// and on its lines; the quoted part loses its middle, never its quotes.
TEST(ElidedLabel, AQuotedNameOrALongWordLosesItsMiddleAndTheSentenceStays)
{
    const auto font = CorvalentStyle::font(TextStyle::caption);
    const QFontMetricsF metrics(font);
    const auto name = QString(250, u'x') + QStringLiteral(".tar");
    QString deep;
    while (deep.size() < 8'258) deep += QStringLiteral("/folder with spaces");
    const auto refusal = QStringLiteral("Corvalent can\u2019t reach \u201C") + deep +
                         QStringLiteral("\u201D to move \u201C") + name + QStringLiteral("\u201D (File name too long).");

    for (const auto& sentence : {QStringLiteral("Moved ") + name + QStringLiteral(" to Trash."), refusal}) {
        ElidedLabel label(QString(), font, Tones::primary());
        label.setWordWrap(true);
        label.show();
        label.setText(sentence);
        EXPECT_LE(label.minimumSizeHint().width(), 200) << "a long word never widens its column";
        EXPECT_LE(label.sizeHint().width(), 600);
        label.resize(300, label.heightForWidth(300));
        const auto shown = label.drawnText();
        EXPECT_TRUE(label.shortened());
        EXPECT_LE(label.height(), 6 * metrics.lineSpacing()) << shown.toStdString();
        for (const auto& word : shown.split(u' ', Qt::SkipEmptyParts))
            EXPECT_LE(metrics.horizontalAdvance(word), 300) << word.toStdString();
        EXPECT_EQ(plainToolTip(label), sentence) << "the whole text to the pointer";
        EXPECT_EQ(label.accessibleDescription(), sentence) << "and to a screen reader";
        // Wide enough for it all, it is shown whole and says nothing more.
        label.resize(100'000, 400);
        EXPECT_FALSE(label.shortened());
        EXPECT_TRUE(label.toolTip().isEmpty());
    }
    const auto shown = shortenLongParts(refusal, metrics, 300);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Corvalent can\u2019t reach \u201C/folder")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral(".tar\u201D (File name too long).")))
        << "the reason is whole: " << shown.toStdString();
    EXPECT_EQ(shown.count(u'\u2026'), 2) << "each quoted part shortened once";
}

}  // namespace
}  // namespace corvalent
