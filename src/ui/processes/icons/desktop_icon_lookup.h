#pragma once

// The icon that stands for a program on this desktop: the icon of the
// installed application that holds it (the engine's application index), else
// the icon theme's icon named after the program, else the theme's generic
// program icon. Plain file lookups: nothing here makes a pixmap, so it runs
// on any thread.

#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

#include "core/process/desktop_entries.h"

namespace corvalent {

// Where applications and icons are looked up, each list in precedence order.
// Taken from the environment and the icon theme settings on the GUI thread,
// then only read.
struct IconLookupPlaces {
    ApplicationPlaces applications;  // where installed applications are read
    QStringList iconFolders;         // base folders of icon themes
    QStringList themes;              // the desktop's theme, then Adwaita and hicolor
    QStringList pixmapFolders;       // unthemed icons

    static IconLookupPlaces fromEnvironment();
};

class DesktopIconLookup {
public:
    explicit DesktopIconLookup(IconLookupPlaces places);
    ~DesktopIconLookup();
    DesktopIconLookup(const DesktopIconLookup&) = delete;
    DesktopIconLookup& operator=(const DesktopIconLookup&) = delete;

    // The icon files for `path` (a program, or an application's folder), best
    // first. The applications and themes are indexed on the first call, from
    // whichever thread makes it; safe to call from several threads.
    QStringList iconFiles(const QString& path) const;

private:
    struct Index;
    const Index& index() const;
    QString themeIcon(const QString& name) const;

    IconLookupPlaces places_;
    mutable std::once_flag indexed_;
    mutable std::unique_ptr<Index> index_;
};

namespace IconRaster {

inline constexpr int edge = 128;

// The image in `file` (PNG, XPM, SVG, …) scaled smoothly, aspect kept, and
// centred in a transparent edge × edge premultiplied ARGB image; null when
// the file cannot be read.
QImage rasterise(const QString& file);

}  // namespace IconRaster

// The first of `path`'s icon files that can be drawn; null when none can.
QImage iconImage(const DesktopIconLookup& lookup, const QString& path);

}  // namespace corvalent
