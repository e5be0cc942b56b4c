#pragma once

// The one cache of application icons: 128 × 128 images per file path, drawn
// off the GUI thread by two single-thread rasterisers used in turn, shared by
// every view that asks for the same path, and bounded in memory and in work.

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/process/processes.h"

namespace corvalent {

// Where a group's icon comes from: its application path, else its first member's executable path, else none.
namespace ProcessIconSource {
std::optional<QString> group(const ProcessGroup& group);
}

class ProcessIconStore : public QObject {
    Q_OBJECT
public:
    static constexpr int capacity = 160;
    static constexpr int maxLoadsInFlight = 24;

    // Draws the icon of a path into a 128 × 128 image, or gives a null image.
    // Called on the rasteriser threads, two at a time.
    using Rasterise = std::function<QImage(const QString& path)>;

    // Icons of the desktop's entries and icon theme (read from the
    // environment now, indexed on the first load).
    explicit ProcessIconStore(QObject* parent = nullptr);
    explicit ProcessIconStore(Rasterise rasterise, QObject* parent = nullptr);
    // Waits for the rasterisers to finish the icon they are drawing.
    ~ProcessIconStore() override;

    // The finished 128×128 icon for `path` if cached (does not touch recency); null QImage otherwise.
    QImage cachedImage(const std::optional<QString>& path) const;
    // Loads if needed; `done(image)` runs on the GUI thread (null image when none / over the in-flight limit / failed).
    // `receiver` guards the callback (not called once receiver is destroyed).
    // A cached icon, a missing path and a full store answer before this returns.
    void image(const std::optional<QString>& path, QObject* receiver, std::function<void(const QImage&)> done);

signals:
    void iconLoaded(const QString& path);  // emitted once per successful load, after caching

private:
    struct Waiter {
        QPointer<QObject> receiver;
        bool guarded = false;
        std::function<void(const QImage&)> done;

        void answer(const QImage& image) const;
    };

    void finish(const QString& path, const QImage& image);
    void touch(const QString& path);

    Rasterise rasterise_;
    std::array<std::unique_ptr<QThreadPool>, 2> rasterisers_;
    std::size_t nextRasteriser_ = 0;
    QHash<QString, QImage> images_;
    QStringList recency_;  // least recently used first
    QHash<QString, std::vector<Waiter>> requests_;
};

}  // namespace corvalent
