// The access introduction over the real application window, from the
// keyboard: Tab goes round the card's own buttons and never reaches the
// section switch behind it, even after a click has used the switch; once
// Continue closes the card, the focus is on the page it uncovered.
#include <gtest/gtest.h>
#include <QApplication>
#include <QMainWindow>
#include <QSettings>
#include <QTest>

#include <atomic>
#include <memory>

#include "keyboard_walk.h"
#include "test_support.h"
#include "ui/onboarding/full_disk_access_introduction.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/shell/section_switch.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

TEST(OnboardingWindow, TabStaysInsideTheCard)
{
    testing::TempHome temp;
    QSettings().clear();
    auto app = std::make_unique<CorvalentApp>();
    app->mainWindow();
    MainView& view = *app->mainView();
    // The real card, as an account whose folders refuse reading meets it,
    // until the fresh process that Set Up starts finds them readable.
    auto probes = std::make_shared<std::atomic<int>>(0);
    view.setIntroductionFactory([probes](QWidget* parent, std::function<void()> close) -> QWidget* {
        auto environment = OnboardingEnvironment::system(FullDiskAccessVerifier::repeatedCheck());
        environment.probe = [probes] {
            return ++*probes <= 2 ? FullDiskAccessStatus::denied : FullDiskAccessStatus::granted;
        };
        environment.verifyFresh = [] { return FullDiskAccessStatus::granted; };
        return new FullDiskAccessOverlay(std::move(environment), std::move(close), parent);
    });
    app->openMainWindow();
    ASSERT_TRUE(activate(app->mainWindow()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.showsAccessIntroduction(); }, 15'000));
    auto& card = static_cast<FullDiskAccessOverlay*>(view.accessIntroduction())->card();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.busy(); }, 15'000));
    settle();
    ASSERT_EQ(QApplication::focusWidget(), &card);

    const auto limited = card.button("Use limited scanning");
    const auto setUp = card.button("Set Up Folder Access");
    const auto walk = [](Qt::KeyboardModifiers modifiers) {
        std::vector<QWidget*> seen;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            seen.push_back(QApplication::focusWidget());
        }
        return seen;
    };
    EXPECT_EQ(walk(Qt::NoModifier), (std::vector<QWidget*>{limited, setUp, limited, setUp, limited}));
    EXPECT_EQ(walk(Qt::ShiftModifier), (std::vector<QWidget*>{setUp, limited, setUp, limited, setUp}));
    const auto section = view.section();

    // The top bar stays usable by pointer; a Tab from there leads back into the card.
    auto& storage = view.sectionSwitch().button(AppSection::storage);
    QTest::mouseClick(&storage, Qt::LeftButton);
    settle();
    EXPECT_NE(view.section(), section);
    ASSERT_TRUE(view.showsAccessIntroduction());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(card.isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == &card)
        << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "no focus");

    // Set Up confirms access; Continue by Space closes the card.
    ASSERT_TRUE(tabTo(*setUp, 4));
    QTest::keyClick(setUp, Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.busy() && card.button("Continue") != nullptr; }, 15'000));
    ASSERT_TRUE(tabTo(*card.button("Continue"), 4));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.showsAccessIntroduction(); }, 15'000));
    settle();
    auto* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << "focus on nothing";
    EXPECT_TRUE(view.currentPage()->isAncestorOf(focus)) << focus->metaObject()->className();
    EXPECT_EQ(focusFault(), "");
    EXPECT_GT(ringStrength(*focus), 40) << "a key led there";
    app.reset();
    settleAfterJobs();
}

}  // namespace
}  // namespace corvalent
