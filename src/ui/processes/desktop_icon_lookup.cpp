#include "ui/processes/desktop_icon_lookup.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QSet>
#include <QStandardPaths>
#include <QSvgRenderer>

#include <algorithm>
#include <optional>
#include <vector>

#include "core/desktop_entries.h"

namespace corvalent {

namespace {

using KeyGroup = QHash<QString, QString>;

// A string value of a key file: "\s", "\n", "\t", "\r" and "\\" decoded.
QString unescaped(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        if (next == 's')
            out += ' ';
        else if (next == 'n')
            out += '\n';
        else if (next == 't')
            out += '\t';
        else if (next == 'r')
            out += '\r';
        else if (next == '\\')
            out += '\\';
        else
            out += QStringLiteral("\\") + next;  // Exec's own escapes are undone later
    }
    return out;
}

// The groups of a key file (desktop entries and theme indexes share the
// format). Localized keys ("Name[de]") are skipped; the first of a repeated
// key counts.
QHash<QString, KeyGroup> readKeyFile(const QString& file)
{
    QHash<QString, KeyGroup> groups;
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Text)) return groups;
    std::optional<QString> group;
    while (!input.atEnd()) {
        const QString line = QString::fromUtf8(input.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const auto equals = line.indexOf('=');
        if (!group || equals <= 0) continue;
        const QString key = line.left(equals).trimmed();
        KeyGroup& keys = groups[*group];
        if (key.contains('[') || keys.contains(key)) continue;
        keys.insert(key, unescaped(line.mid(equals + 1).trimmed()));
    }
    return groups;
}

// Programs that run something else named in their arguments: an entry that
// starts one of them with arguments says nothing about the program's file.
bool isLauncher(const QString& name)
{
    static const QSet<QString> launchers{"sh",  "bash", "dash", "zsh",     "perl", "ruby",   "node", "java",
                                         "gjs", "mono", "wine", "flatpak", "snap", "pkexec", "sudo", "nodejs"};
    return launchers.contains(name) || name.startsWith(QLatin1String("python"));
}

// The canonical file a program name or path stands for; empty when none.
QString resolveProgram(const QString& program, const QStringList& searchPath)
{
    if (program.isEmpty()) return {};
    const QString file = QDir::isAbsolutePath(program) ? program
                         : program.contains('/')       ? QString()
                                                       : QStandardPaths::findExecutable(program, searchPath);
    return file.isEmpty() ? QString() : QFileInfo(file).canonicalFilePath();
}

struct Entry {
    QString icon;
    QString program;  // canonical; empty when Exec names no location
    QString tryExec;  // canonical
    QString windowClass;
};

std::optional<Entry> readEntry(const QString& file, const QStringList& searchPath)
{
    const KeyGroup keys = readKeyFile(file).value(QStringLiteral("Desktop Entry"));
    if (keys.isEmpty() || keys.value("Hidden") == QLatin1String("true")) return std::nullopt;
    Entry entry;
    entry.icon = keys.value("Icon");
    entry.tryExec = resolveProgram(keys.value("TryExec"), searchPath);
    entry.windowClass = keys.value("StartupWMClass");
    auto arguments = DesktopEntry::execArguments(keys.value("Exec"));
    // "env NAME=value … program": the program follows the assignments.
    if (!arguments.isEmpty() && QFileInfo(arguments.first()).fileName() == QLatin1String("env")) {
        arguments.removeFirst();
        while (!arguments.isEmpty() && (arguments.first().contains('=') || arguments.first().startsWith('-')))
            arguments.removeFirst();
    }
    if (!arguments.isEmpty() && !(arguments.size() > 1 && isLauncher(QFileInfo(arguments.first()).fileName())))
        entry.program = resolveProgram(arguments.first(), searchPath);
    return entry;
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
    QHash<QString, KeyGroup> description;
    for (const auto& base : iconFolders) {
        description = readKeyFile(base + '/' + theme + "/index.theme");
        if (!description.isEmpty()) break;
    }
    const auto folders = description.value("Icon Theme").value("Directories").split(',', Qt::SkipEmptyParts);
    for (const auto& folder : folders) {
        const KeyGroup about = description.value(folder);
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
    const QString home = QDir::homePath();
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome)) dataHome = home + "/.local/share";
    QStringList dataDirs;
    for (const auto& dir : qEnvironmentVariable("XDG_DATA_DIRS", "/usr/local/share:/usr/share").split(':'))
        if (QDir::isAbsolutePath(dir)) appendUnique(dataDirs, QDir::cleanPath(dir));
    if (dataDirs.isEmpty()) dataDirs = {"/usr/local/share", "/usr/share"};

    places.applicationFolders.append(dataHome + "/applications");
    appendUnique(places.iconFolders, home + "/.icons");
    appendUnique(places.iconFolders, dataHome + "/icons");
    for (const auto& dir : dataDirs) {
        appendUnique(places.applicationFolders, dir + "/applications");
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
    places.programSearchPath = qEnvironmentVariable("PATH").split(':', Qt::SkipEmptyParts);
    return places;
}

QStringList DesktopEntry::execArguments(const QString& exec)
{
    QStringList arguments;
    for (const auto& argument : DesktopEntries::execArguments(exec.toStdString()))
        arguments.append(QString::fromStdString(argument));
    return arguments;
}

struct DesktopIconLookup::Index {
    std::vector<Entry> entries;                     // in precedence order
    std::vector<QHash<QString, ThemeIcon>> themes;  // in `places_.themes` order
};

DesktopIconLookup::DesktopIconLookup(IconLookupPlaces places) : places_(std::move(places)) {}

DesktopIconLookup::~DesktopIconLookup() = default;

const DesktopIconLookup::Index& DesktopIconLookup::index() const
{
    std::call_once(indexed_, [this] {
        auto index = std::make_unique<Index>();
        // An entry's id is its path under the applications folder; the first
        // folder with an id wins, and a hidden entry there removes the id.
        QSet<QString> seen;
        for (const auto& folder : places_.applicationFolders) {
            QDirIterator files(folder, {"*.desktop"}, QDir::Files, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QString file = files.next();
                const QString id = QDir(folder).relativeFilePath(file).replace('/', '-');
                if (seen.contains(id)) continue;
                seen.insert(id);
                if (auto entry = readEntry(file, places_.programSearchPath)) index->entries.push_back(*entry);
            }
        }
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
    const QString programName = info.fileName();
    const auto& entries = index().entries;

    const auto first = [&entries](auto matches) -> const Entry* {
        const auto found = std::find_if(entries.begin(), entries.end(), matches);
        return found == entries.end() ? nullptr : &*found;
    };
    // The entry that starts this very file, else one whose program lies in
    // this application folder, else one whose windows carry the program's name.
    const Entry* match = first([&](const Entry& e) { return e.program == target || e.tryExec == target; });
    if (!match && info.isDir()) match = first([&](const Entry& e) { return e.program.startsWith(target + '/'); });
    if (!match && !programName.isEmpty())
        match = first([&](const Entry& e) { return e.windowClass.compare(programName, Qt::CaseInsensitive) == 0; });

    QStringList files;
    if (match) appendUnique(files, themeIcon(match->icon));
    appendUnique(files, themeIcon(programName));
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
