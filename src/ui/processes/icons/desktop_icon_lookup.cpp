#include "ui/processes/icons/desktop_icon_lookup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <vector>

#include "core/process/desktop_entries.h"

namespace corvalent {

namespace {

// A theme's index.theme in Qt's types: it shares the desktop entries' format and reader.
QHash<QString, QHash<QString, QString>> themeIndex(const QString& file)
{
    QHash<QString, QHash<QString, QString>> groups;
    for (const auto& [name, keys] : DesktopEntries::readKeyFile(QFile::encodeName(file).toStdString())) {
        auto& group = groups[QString::fromStdString(name)];
        for (const auto& [key, value] : keys) group.insert(QString::fromStdString(key), QString::fromStdString(value));
    }
    return groups;
}

struct ThemeIcon {
    QString file;
    int score = 0;
};

// How well an icon of `pixels` suits a 128-pixel image: any size from 128
// up beats every smaller one, and the nearest to 128 wins among them.
int sizeScore(int pixels)
{
    return pixels >= IconRaster::edge ? 1'000'000 - pixels : pixels;
}

// Every icon of one theme by name, the best size of each.
QHash<QString, ThemeIcon> indexTheme(const QString& theme, const QStringList& iconFolders)
{
    QHash<QString, ThemeIcon> icons;
    QHash<QString, QHash<QString, QString>> description;
    for (const auto& base : iconFolders) {
        description = themeIndex(base + '/' + theme + "/index.theme");
        if (!description.isEmpty()) break;
    }
    const auto folders = description.value("Icon Theme").value("Directories").split(',', Qt::SkipEmptyParts);
    for (const auto& folder : folders) {
        const auto about = description.value(folder);
        const int size = about.value("Size").toInt();
        const int scale = std::max(1, about.value("Scale", "1").toInt());
        const bool scalable = about.value("Type") == QLatin1String("Scalable");
        const int pixels = (scalable ? about.value("MaxSize", QString::number(size)).toInt() : size) * scale;
        for (const auto& base : iconFolders) {
            const QDir dir(base + '/' + theme + '/' + folder);
            if (!dir.exists()) continue;
            const auto files = dir.entryInfoList({"*.png", "*.svg", "*.xpm"}, QDir::Files);
            for (const auto& file : files) {
                const QString name = file.fileName().chopped(4);
                const auto known = icons.constFind(name);
                if (known == icons.constEnd() || known->score < sizeScore(pixels))
                    icons.insert(name, {file.filePath(), sizeScore(pixels)});
            }
        }
    }
    return icons;
}

void appendUnique(QStringList& list, const QString& item)
{
    if (!item.isEmpty() && !list.contains(item)) list.append(item);
}

}  // namespace

IconLookupPlaces IconLookupPlaces::fromEnvironment()
{
    IconLookupPlaces places;
    places.applications = ApplicationPlaces::fromEnvironment();
    const QString home = QDir::homePath();
    const QString dataHome = QString::fromStdString(DesktopEntries::userDataHome());
    QStringList dataDirs;
    for (const auto& dir : qEnvironmentVariable("XDG_DATA_DIRS", "/usr/local/share:/usr/share").split(':'))
        if (QDir::isAbsolutePath(dir)) appendUnique(dataDirs, QDir::cleanPath(dir));
    if (dataDirs.isEmpty()) dataDirs = {"/usr/local/share", "/usr/share"};

    appendUnique(places.iconFolders, home + "/.icons");
    appendUnique(places.iconFolders, dataHome + "/icons");
    for (const auto& dir : dataDirs) {
        appendUnique(places.iconFolders, dir + "/icons");
        appendUnique(places.pixmapFolders, dir + "/pixmaps");
    }
    appendUnique(places.pixmapFolders, "/usr/share/pixmaps");
    // Qt's own search paths hold the folders the application added at start-up
    // (resource paths cannot be listed from a plain folder walk).
    for (const auto& path : QIcon::themeSearchPaths())
        if (!path.startsWith(':')) appendUnique(places.iconFolders, QDir::cleanPath(path));
    appendUnique(places.themes, QIcon::themeName());
    appendUnique(places.themes, "Adwaita");
    appendUnique(places.themes, "hicolor");
    return places;
}

struct DesktopIconLookup::Index {
    ApplicationIndex applications;
    std::vector<QHash<QString, ThemeIcon>> themes;  // in `places_.themes` order
};

DesktopIconLookup::DesktopIconLookup(IconLookupPlaces places) : places_(std::move(places)) {}

DesktopIconLookup::~DesktopIconLookup() = default;

const DesktopIconLookup::Index& DesktopIconLookup::index() const
{
    std::call_once(indexed_, [this] {
        auto index = std::make_unique<Index>();
        index->applications = ApplicationIndex::build(places_.applications);
        for (const auto& theme : places_.themes) index->themes.push_back(indexTheme(theme, places_.iconFolders));
        index_ = std::move(index);
    });
    return *index_;
}

QString DesktopIconLookup::themeIcon(const QString& iconName) const
{
    if (iconName.isEmpty()) return {};
    if (QDir::isAbsolutePath(iconName)) return QFileInfo(iconName).isFile() ? iconName : QString();
    QString name = iconName;
    // Some entries name the icon with its file's extension.
    for (const auto* extension : {".png", ".svg", ".xpm"})
        if (name.endsWith(QLatin1String(extension))) name.chop(4);
    for (const auto& theme : index().themes)
        if (const auto found = theme.constFind(name); found != theme.constEnd()) return found->file;
    for (const auto& folder : places_.pixmapFolders)
        for (const auto* extension : {".png", ".svg", ".xpm"})
            if (const QString file = folder + '/' + name + extension; QFileInfo(file).isFile()) return file;
    return {};
}

QStringList DesktopIconLookup::iconFiles(const QString& path) const
{
    const QFileInfo info(QDir::cleanPath(path));
    const QString target = info.canonicalFilePath().isEmpty() ? info.filePath() : info.canonicalFilePath();
    const auto* application = index().applications.locate(QFile::encodeName(target).toStdString());

    QStringList files;
    if (application) appendUnique(files, themeIcon(QString::fromStdString(application->icon)));
    appendUnique(files, themeIcon(info.fileName()));
    appendUnique(files, themeIcon("application-x-executable"));
    return files;
}

QImage IconRaster::rasterise(const QString& file)
{
    QImage canvas(edge, edge, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    const auto centred = [](QSizeF size) {
        if (size.isEmpty()) size = QSizeF(edge, edge);
        size.scale(edge, edge, Qt::KeepAspectRatio);
        return QRectF(QPointF((edge - size.width()) / 2, (edge - size.height()) / 2), size);
    };
    if (file.endsWith(".svg", Qt::CaseInsensitive) || file.endsWith(".svgz", Qt::CaseInsensitive)) {
        QSvgRenderer renderer(file);
        if (!renderer.isValid()) return {};
        QPainter painter(&canvas);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        renderer.render(&painter, centred(renderer.viewBoxF().size()));
        return canvas;
    }
    QImageReader reader(file);
    const QImage source = reader.read();
    if (source.isNull()) return {};
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF target = centred(source.size());
    painter.drawImage(target.topLeft(),
                      source.scaled(target.size().toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return canvas;
}

QImage iconImage(const DesktopIconLookup& lookup, const QString& path)
{
    for (const auto& file : lookup.iconFiles(path))
        if (QImage image = IconRaster::rasterise(file); !image.isNull()) return image;
    return {};
}

}  // namespace corvalent
