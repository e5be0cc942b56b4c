#include "ui/processes/icons/process_icon_store.h"

#include <QMetaObject>
#include <QThread>

#include "ui/processes/icons/desktop_icon_lookup.h"

namespace corvalent {

std::optional<QString> ProcessIconSource::group(const ProcessGroup& group)
{
    if (group.appPath) return QString::fromStdString(*group.appPath);
    for (const auto& member : group.members)
        if (!member.path.empty()) return QString::fromStdString(member.path);
    return std::nullopt;
}

namespace {

ProcessIconStore::Rasterise desktopIcons()
{
    auto lookup = std::make_shared<const DesktopIconLookup>(IconLookupPlaces::fromEnvironment());
    return [lookup](const QString& path) { return iconImage(*lookup, path); };
}

}  // namespace

ProcessIconStore::ProcessIconStore(QObject* parent) : ProcessIconStore(desktopIcons(), parent) {}

ProcessIconStore::ProcessIconStore(Rasterise rasterise, QObject* parent)
    : QObject(parent), rasterise_(std::move(rasterise))
{
    for (auto& rasteriser : rasterisers_) {
        rasteriser = std::make_unique<QThreadPool>();
        rasteriser->setMaxThreadCount(1);
        // Icons are background work: they never hold back a sample or the interface.
        rasteriser->setThreadPriority(QThread::LowPriority);
    }
}

ProcessIconStore::~ProcessIconStore()
{
    // A load still running posts its result to this object, which drops it
    // when it goes; none may post once the object is gone.
    for (auto& rasteriser : rasterisers_) {
        rasteriser->clear();
        rasteriser->waitForDone();
    }
}

QImage ProcessIconStore::cachedImage(const std::optional<QString>& path) const
{
    return path ? images_.value(*path) : QImage();
}

void ProcessIconStore::image(const std::optional<QString>& path, QObject* receiver,
                             std::function<void(const QImage&)> done)
{
    const Waiter waiter{receiver, receiver != nullptr, std::move(done)};
    if (!path || path->isEmpty()) return waiter.answer({});
    if (const auto cached = images_.constFind(*path); cached != images_.constEnd()) {
        const QImage image = *cached;
        touch(*path);
        return waiter.answer(image);
    }
    if (const auto pending = requests_.find(*path); pending != requests_.end()) {
        pending->push_back(waiter);
        return;
    }
    // A full store answers at once and remembers nothing: a later call tries again.
    if (requests_.size() >= maxLoadsInFlight) return waiter.answer({});

    requests_[*path].push_back(waiter);
    auto& rasteriser = *rasterisers_[nextRasteriser_];
    nextRasteriser_ = (nextRasteriser_ + 1) % rasterisers_.size();
    rasteriser.start([this, key = *path, rasterise = rasterise_] {
        QImage image = rasterise(key);
        QMetaObject::invokeMethod(
            this, [this, key, image] { finish(key, image); }, Qt::QueuedConnection);
    });
}

void ProcessIconStore::finish(const QString& path, const QImage& image)
{
    const std::vector<Waiter> waiters = requests_.take(path);
    if (!image.isNull()) {
        images_.insert(path, image);
        touch(path);
        while (images_.size() > capacity && !recency_.isEmpty()) images_.remove(recency_.takeFirst());
        emit iconLoaded(path);
    }
    for (const auto& waiter : waiters) waiter.answer(image);
}

void ProcessIconStore::touch(const QString& path)
{
    recency_.removeOne(path);
    recency_.append(path);
}

void ProcessIconStore::Waiter::answer(const QImage& image) const
{
    if (guarded && receiver.isNull()) return;
    done(image);
}

}  // namespace corvalent
