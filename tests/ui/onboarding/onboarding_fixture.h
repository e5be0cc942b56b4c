#pragma once

// The folder-access introduction in a window of its own, with the checks,
// the folder opener and the relaunch standing in.

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "ui/onboarding/full_disk_access_introduction.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/labels.h"

namespace corvalent {

using Status = FullDiskAccessStatus;

inline const QString setUpText = QStringLiteral("Set Up Folder Access");
inline const QString limitedText = QStringLiteral("Use limited scanning");
inline const QString verifyText = QStringLiteral("Verify Access");
inline const QString reopenText = QStringLiteral("Quit & Reopen Corvalent");
inline const QString openHomeText = QStringLiteral("Open Home Folder");
inline const QString deniedMessage = QStringLiteral(
    "Your folders\u2019 permissions still refuse reading. Check their owner and permissions, then verify again.");
inline const QColor teal(10, 168, 158);

// What the stand-ins answer and how often they were asked. Shared with the
// jobs in the pool, so that a job outliving a test touches nothing freed.
struct Fakes {
    std::atomic<Status> probeAnswer = Status::denied;
    std::atomic<Status> verifyAnswer = Status::denied;
    std::atomic<bool> holdVerification = false;
    std::atomic<int> probes = 0;
    std::atomic<int> verifications = 0;
    std::atomic<bool> settingsApplication = true;
    std::atomic<int> settingsOpened = 0;
    std::optional<QString> relaunchError;
    int relaunches = 0;
    int exits = 0;
    // What Reopen starts, and on which threads it was worked out.
    std::string program = "/opt/corvalent/bin/corvalent";
    std::atomic<int> programsOnGuiThread = 0;
    std::atomic<int> programsElsewhere = 0;
    std::string relaunched;
};

// Protected locations included, introduction seen.
inline std::pair<bool, bool> stored()
{
    const QSettings s;
    return {s.value("includePrivacyProtectedLocations").toBool(),
            s.value("hasSeenFullDiskAccessIntroduction").toBool()};
}

// The largest difference of the two colours' channels.
inline int distance(const QColor& one, const QColor& other)
{
    return std::max({std::abs(one.red() - other.red()), std::abs(one.green() - other.green()),
                     std::abs(one.blue() - other.blue())});
}

inline bool closeTo(const QColor& seen, const QColor& expected, int tolerance)
{
    return distance(seen, expected) <= tolerance;
}

// How far the colours just inside a button's left edge, halfway down, moved:
// a focus ring that shows moves them a lot.
inline int edgeChange(const QImage& focused, const QImage& plain)
{
    int most = 0;
    for (int x = 1; x < 6; ++x)
        most = std::max(most, distance(focused.pixelColor(x, focused.height() / 2),
                                       plain.pixelColor(x, plain.height() / 2)));
    return most;
}

// A window with a toolbar strip and the overlay over the rest of it, opened
// when the test says so.
class Onboarding : public ::testing::Test {
protected:
    std::shared_ptr<Fakes> fakes = std::make_shared<Fakes>();
    int closes = 0;
    std::unique_ptr<QWidget> host;
    QPushButton* toolbar = nullptr;
    FullDiskAccessOverlay* overlay = nullptr;
    // How long the card waits for the app to come back before it checks by
    // itself: past every test's end unless the test says otherwise.
    std::chrono::milliseconds recheckAfter = std::chrono::hours(1);
    // Lets a held verification end.
    void releaseVerification()
    {
        fakes->holdVerification = false;
        fakes->holdVerification.notify_all();
    }
    void TearDown() override
    {
        releaseVerification();
        if (overlay != nullptr) settle();
    }

    // First use, by default with a stale "include" for a denied check to turn off.
    void open(bool include = true)
    {
        QSettings().setValue("includePrivacyProtectedLocations", include);
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", false);
        OnboardingEnvironment environment;
        const auto f = fakes;
        environment.probe = [f] { ++f->probes; return f->probeAnswer.load(); };
        environment.verifyFresh = [f] {
            ++f->verifications;
            f->holdVerification.wait(true);
            return f->verifyAnswer.load();
        };
        environment.openSettings = [f] { ++f->settingsOpened; return f->settingsApplication.load(); };
        environment.programPath = [f] {
            ++(QThread::currentThread() == qApp->thread() ? f->programsOnGuiThread : f->programsElsewhere);
            return f->program;
        };
        environment.relaunch = [f](const std::string& program) {
            ++f->relaunches;
            f->relaunched = program;
            return f->relaunchError;
        };
        environment.exitProcess = [f] { ++f->exits; };
        environment.recheckAfter = recheckAfter;
        host = std::make_unique<QWidget>();
        host->setPalette(lightPalette());
        host->resize(900, 760);
        toolbar = new QPushButton("Toolbar", host.get());
        toolbar->setGeometry(10, 10, 80, 30);
        overlay = new FullDiskAccessOverlay(std::move(environment), [this] { ++closes; }, host.get());
        overlay->setGeometry(coveredArea());
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
        settle();
    }
    // Below the toolbar strip, as the owner gives it.
    QRect coveredArea() const { return host->rect().adjusted(0, 52, 0, 0); }

    FullDiskAccessIntroduction& card() { return overlay->card(); }
    // How often the settings were opened, access probed, and verified in a fresh process.
    std::tuple<int, int, int> asked() const { return {fakes->settingsOpened, fakes->probes, fakes->verifications}; }
    // Every check finished and delivered, and no cross-fade left.
    void settle()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !card().busy() && !card().crossFading(); }, 15'000));
        // Layout requests travel from the card's rows up to the overlay one event at a time.
        for (int round = 0; round < 4; ++round) QCoreApplication::processEvents();
    }
    bool enabled(const QString& text) { return card().button(text) != nullptr && card().button(text)->isEnabled(); }
    void press(const QString& text)
    {
        ASSERT_TRUE(enabled(text)) << text.toStdString();
        QTest::mouseClick(card().button(text), Qt::LeftButton);
    }
    // Saved on both palettes; the light one is returned. The card grows with
    // its content rather than squeezing it.
    QImage screenshot(const QString& name)
    {
        EXPECT_EQ(card().height(), card().heightForWidth(card().width())) << name.toStdString();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        host->setPalette(darkPalette());
        host->grab().save(QString(CORVALENT_SCREENSHOTS) + "/" + name + "-dark.png");
        host->setPalette(lightPalette());
        const auto image = host->grab().toImage();
        image.save(QString(CORVALENT_SCREENSHOTS) + "/" + name + ".png");
        return image;
    }
    QColor pixelAt(const QImage& image, QWidget* widget, QPoint at)
    {
        return image.pixelColor(widget->mapTo(host.get(), at) * image.devicePixelRatio());
    }
    // The widget as the window shows it, over what lies behind it.
    QImage shown(QWidget* widget)
    {
        return host->grab(QRect(widget->mapTo(host.get(), QPoint()), widget->size())).toImage();
    }
    // The label showing exactly this text.
    ElidedLabel* label(const QString& text)
    {
        for (auto* candidate : card().findChildren<QLabel*>())
            if (candidate->isVisibleTo(&card()) && candidate->text() == text)
                return dynamic_cast<ElidedLabel*>(candidate);
        return nullptr;
    }
};

}  // namespace corvalent
