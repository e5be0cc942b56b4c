// The disk page's capacity card, limited-access warning and empty state,
// offscreen on a real disk model that lists volumes of the test's own.
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "live_environments.h"
#include "models/preferences.h"
#include "ui/disk/header/capacity_card.h"
#include "ui/disk/scan/empty_state.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/rings.h"
#include "ui/widgets/symbols.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

constexpr std::uint64_t GiB = 1ULL << 30;

DiskVolume computer(std::uint64_t total, std::uint64_t available, std::optional<std::uint64_t> immediately = {})
{
    return {"/", "Computer", "/", DiskCapacity::make("Computer", total, available, immediately), true, false};
}

class DiskCapacityEmpty : public ::testing::Test {
protected:
    std::vector<DiskVolume> volumes;
    DiskModel model{environment()};
    DiskViewState state;
    std::unique_ptr<QWidget> host;

    DiskModelEnvironment environment()
    {
        QSettings().clear();
        auto environment = quietDiskEnvironment();
        environment.volumes = [this] { return volumes; };
        return environment;
    }
    ~DiskCapacityEmpty() override
    {
        host.reset();
        drainLanes();
    }

    void load(std::vector<DiskVolume> list)
    {
        volumes = std::move(list);
        bool done = false;
        model.loadVolumes(true, [&] { done = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 20'000));
        QCoreApplication::processEvents();
    }

    // The widgets in an opaque host with the header's margins, as wide as asked.
    void open(std::initializer_list<QWidget*> content, int width, int height = 0)
    {
        host = std::make_unique<QWidget>();
        host->setPalette(lightPalette());
        host->setAutoFillBackground(true);
        auto* column = new QVBoxLayout(host.get());
        column->setContentsMargins(24, 18, 24, 20);
        column->setSpacing(16);
        for (auto* widget : content) column->addWidget(widget);
        // Below the header's parts, the page's content takes the rest.
        if (height == 0) column->addStretch(1);
        fixedHeight_ = height;
        resize(width);
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    }
    void resize(int width)
    {
        QCoreApplication::processEvents();
        const int height = fixedHeight_ > 0 ? fixedHeight_ : host->heightForWidth(width);
        host->resize(width, height > 0 ? height : host->sizeHint().height());
        QCoreApplication::processEvents();
    }
    template <typename Widget = QWidget>
    Widget* named(const QString& name) const
    {
        return host->findChild<Widget*>(name);
    }
    QString text(const QString& name) const { return named<QLabel>(name)->text(); }
    bool shows(const QString& name) const { return named(name)->isVisibleTo(host.get()); }
    int shownCount(const QString& name) const
    {
        int count = 0;
        for (auto* widget : host->findChildren<QWidget*>(name)) count += widget->isVisibleTo(host.get());
        return count;
    }
    // Light and dark, at the window's usual and narrowest widths.
    void screenshots(const QString& name)
    {
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        for (const int width : {1180, 920}) {
            resize(width);
            EXPECT_EQ(host->width(), width) << "nothing forces the window wider";
            for (const auto& [look, palette] : {std::pair("light", lightPalette()), std::pair("dark", darkPalette())}) {
                host->setPalette(palette);
                settle();  // changing figures settle
                const auto file = QString("%1/disk-%2-%3-%4.png").arg(CORVALENT_SCREENSHOTS, name).arg(width).arg(look);
                EXPECT_TRUE(host->grab().save(file)) << file.toStdString();
            }
        }
        host->setPalette(lightPalette());
    }

private:
    int fixedHeight_ = 0;
};

TEST_F(DiskCapacityEmpty, CardReadsUntilACapacityAndJudgesTheVolumesHealth)
{
    open({new CapacityCard(model), new LimitedAccessWarning(state)}, 1180);
    EXPECT_TRUE(shows("capacityReading"));
    EXPECT_FALSE(shows("capacityFigures"));
    screenshots("capacity-reading");

    struct Case {
        std::uint64_t total, available;
        QString title;
        QColor colour;
        QString percent;
    };
    const std::vector<Case> cases{
        {100 * GiB, 10 * GiB, "Space is getting tight", CorvalentStyle::orange(), "90%"},
        {100 * GiB, static_cast<std::uint64_t>(9.99 * GiB), "Almost full", CorvalentStyle::red(), "90%"},
        {100 * GiB, 20 * GiB, "Room to breathe", CorvalentStyle::teal(), "80%"},
        {100 * GiB, static_cast<std::uint64_t>(27.5 * GiB), "Room to breathe", CorvalentStyle::teal(), "73%"},
        {100 * GiB, static_cast<std::uint64_t>(27.6 * GiB), "Room to breathe", CorvalentStyle::teal(), "72%"},
        {0, 0, "Almost full", CorvalentStyle::red(), "0%"},
    };
    for (const auto& [total, available, title, colour, percent] : cases) {
        SCOPED_TRACE(title.toStdString() + " " + percent.toStdString());
        load({computer(total, available)});
        EXPECT_FALSE(shows("capacityReading"));
        EXPECT_EQ(text("healthTitle"), title);
        auto* usable = static_cast<ElidedLabel*>(named<QLabel>("USABLE"));
        EXPECT_EQ(usable->colour().rgb(), CorvalentStyle::textTint(colour, usable->palette()).rgb())
            << "USABLE takes the verdict's colour, in its readable shade";
        EXPECT_EQ(named<Gauge>("capacityGauge")->percentText(), percent);
    }
}

TEST_F(DiskCapacityEmpty, ReclaimableShowsOnlyWhatTheSystemCanPurge)
{
    open({new CapacityCard(model), new LimitedAccessWarning(state)}, 1180);
    load({computer(100 * GiB, 40 * GiB, 40 * GiB)});
    EXPECT_FALSE(shows("RECLAIMABLE"));
    EXPECT_EQ(shownCount("capacityDivider"), 2) << "USABLE | FREE NOW | CAPACITY";
    EXPECT_EQ(text("USABLE"), "40.0 GB");
    EXPECT_EQ(text("FREE NOW"), "40.0 GB");
    EXPECT_EQ(text("CAPACITY"), "100.0 GB");
    screenshots("capacity-three");

    load({computer(100 * GiB, 40 * GiB, GiB / 2)});
    ASSERT_TRUE(shows("RECLAIMABLE"));
    EXPECT_EQ(shownCount("capacityDivider"), 3);
    EXPECT_EQ(text("FREE NOW"), "512 MB");
    EXPECT_EQ(text("RECLAIMABLE"), "39.5 GB");
    screenshots("capacity-four");

    load({computer(100 * GiB, 30 * GiB, 40 * GiB)});
    EXPECT_FALSE(shows("RECLAIMABLE")) << "more free now than usable is no negative figure";
}

TEST_F(DiskCapacityEmpty, WarningComesOnlyWhileAccessIsLimitedAndOpensTheReview)
{
    load({computer(500 * GiB, 120 * GiB, 100 * GiB)});
    auto* warning = new LimitedAccessWarning(state);
    open({new CapacityCard(model), warning}, 1180);
    auto* strip = named("limitedAccessStrip");
    ASSERT_NE(strip, nullptr);
    // In place: shown, the slide and the fade ended, the strip its full height.
    const auto settled = [&](bool shown) {
        return QTest::qWaitFor(
            [&] {
                return warning->isVisibleTo(host.get()) == shown && strip->graphicsEffect() == nullptr &&
                       (!shown || warning->height() == strip->height());
            },
            5'000);
    };
    EXPECT_FALSE(warning->isVisibleTo(host.get())) << "not while access is being checked";
    state.setFullDiskAccessStatus(FullDiskAccessStatus::granted);
    EXPECT_TRUE(settled(false));
    state.setFullDiskAccessStatus(FullDiskAccessStatus::denied);
    EXPECT_TRUE(settled(true));
    screenshots("access-warning");

    state.setFullDiskAccessStatus(FullDiskAccessStatus::unavailable);
    EXPECT_TRUE(settled(true));
    QTest::mouseClick(named<QPushButton>("reviewAccess"), Qt::LeftButton);
    EXPECT_TRUE(state.showingAccessSetup());
    state.setFullDiskAccessStatus(FullDiskAccessStatus::checking);
    EXPECT_TRUE(settled(false));
}

TEST_F(DiskCapacityEmpty, EmptyStateInvitesAScanAndKeepsItsPromises)
{
    int scans = 0, choices = 0;
    const DiskCommands commands{[&] { ++scans; }, [&] { ++choices; }, [] {}};
    open({new DiskEmptyState(model, commands)}, 1180, 640);
    auto* scan = named<QPushButton>("emptyScanDisk");
    EXPECT_FALSE(scan->isEnabled()) << "no volume selected yet";
    QTest::mouseClick(scan, Qt::LeftButton);
    QTest::mouseClick(named<QPushButton>("emptyChooseFolder"), Qt::LeftButton);
    EXPECT_EQ(std::pair(scans, choices), std::pair(0, 1));

    load({computer(500 * GiB, 120 * GiB)});
    ASSERT_TRUE(scan->isEnabled());
    QTest::mouseClick(scan, Qt::LeftButton);
    EXPECT_EQ(scans, 1);

    const auto promise = [&] {
        return std::pair(text("protectedPromise"), named<SymbolView>("protectedPromiseSymbol")->symbol());
    };
    EXPECT_EQ(promise(), std::pair(QString("Protected folders are skipped unless you choose one directly"),
                                   QString("hand.raised")));
    auto* subtitle = named<QLabel>("emptySubtitle");
    EXPECT_LE(subtitle->width(), 430);
    EXPECT_GT(subtitle->height(), subtitle->fontMetrics().lineSpacing()) << "wraps rather than widening";
    screenshots("empty-state");

    Preferences::standard().setIncludePrivacyProtectedLocations(true);
    EXPECT_EQ(promise(), std::pair(QString("Protected folders are included where the system allows access"),
                                   QString("lock.open")));
    screenshots("empty-state-included");
    Preferences::standard().setIncludePrivacyProtectedLocations(false);
    EXPECT_EQ(promise().second, "hand.raised");

    // Too short for the picture: the invitation stays whole without it.
    host->resize(920, 400);
    QCoreApplication::processEvents();
    EXPECT_EQ(host->height(), 400) << "the window is not forced taller";
    EXPECT_FALSE(shows("diskEmptyMap"));
    const auto promiseLine = named("protectedPromise");
    EXPECT_LE(promiseLine->mapTo(host.get(), QPoint(0, promiseLine->height())).y(), 400);
    host->resize(920, 640);
    QCoreApplication::processEvents();
    EXPECT_TRUE(shows("diskEmptyMap"));
}

// Clockwise from three o'clock around the centre of the 230 px frame.
TEST(DiskEmptyMap, ArcsLieOnTheirCirclesWithinTheirSpans)
{
    DiskEmptyMap map;
    map.setPalette(lightPalette());
    const auto image = map.grab().toImage();
    const auto background = image.pixelColor(2, 2);
    const QPointF centre = QRectF(map.rect()).center();
    const auto tinted = [&](double radius, double degrees) {
        const double angle = degrees * M_PI / 180;
        const QPoint at(static_cast<int>(std::floor(centre.x() + radius * std::cos(angle))),
                        static_cast<int>(std::floor(centre.y() + radius * std::sin(angle))));
        const auto colour = image.pixelColor(at);
        return std::abs(colour.red() - background.red()) + std::abs(colour.green() - background.green()) +
                   std::abs(colour.blue() - background.blue()) >
               24;
    };
    struct Ring {
        double radius, from, to;
    };
    for (const auto& [radius, from, to] : {Ring{115, -81.2, 152.8}, Ring{88, -8.4, 218.4}, Ring{61, 64.4, 284}}) {
        SCOPED_TRACE(radius);
        EXPECT_TRUE(tinted(radius, from + 3));
        EXPECT_TRUE(tinted(radius, to - 3));
        EXPECT_FALSE(tinted(radius, from - 3));
        EXPECT_FALSE(tinted(radius, to + 3));
        // 20 px wide, centred on the circle.
        const double middle = (from + to) / 2;
        EXPECT_TRUE(tinted(radius - 8, middle) && tinted(radius + 8, middle));
        EXPECT_FALSE(tinted(radius - 12, middle) || tinted(radius + 12, middle));
    }
    EXPECT_TRUE(tinted(123, 0)) << "the outer stroke reaches beyond the frame";
}

}  // namespace
}  // namespace corvalent
