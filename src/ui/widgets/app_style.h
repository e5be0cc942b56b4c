#pragma once

// The application's style: Fusion, with two things drawn our way. Tooltips
// look like the pages' help popovers (the panel colour, a soft hairline,
// rounded corners, caption text with room around it) in light and dark.
// A checked menu row that carries a symbol shows a check mark at its end,
// where Fusion would only sink the symbol's frame. A menu bar title the
// keyboard rests on with no menu open shows the kit's focus ring.

#include <QProxyStyle>

namespace corvalent {

class AppStyle : public QProxyStyle {
public:
    AppStyle();

    static constexpr double toolTipRadius = 8;
    static constexpr int toolTipPadding = 8;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returned = nullptr) const override;
};

// Sets the style, the tooltip font, and the tooltip colours of `palette`;
// called again whenever the palette changes.
void installAppStyle();
void applyToolTipPalette(const QPalette& palette);

}  // namespace corvalent
