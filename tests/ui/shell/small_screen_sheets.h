#pragma once

// The application framed by a real window manager on a small screen, with
// a home of its own: its sheets found once framed and placed.

#include <QTest>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <string>

#include "framed_app.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/shell/main_view.h"
#include "ui_settle.h"

namespace corvalent {

class SmallScreenSheets : public FramedAppTest {
protected:
    DiskView* diskPage() { return qobject_cast<DiskView*>(app->mainView()->currentPage()); }

    // The window now shown over the main window, once framed and placed.
    QWidget* framedWindow(const std::function<QWidget*()>& find)
    {
        QWidget* shown = nullptr;
        const bool framed = QTest::qWaitFor(
            [&] {
                shown = find();
                return shown != nullptr && shown->isVisible() && shown->windowHandle() != nullptr &&
                       shown->windowHandle()->isExposed() && !shown->windowHandle()->frameMargins().isNull() &&
                       room().contains(shown->frameGeometry());
            },
            10'000);
        settle();
        EXPECT_TRUE(framed) << "framed inside the screen in time";

        return shown;
    }

    // The sheet's frame centred on the main window's, as far as the screen
    // lets it be, once the window manager has answered the last move.
    void expectCentredOnTheWindow(const QWidget& sheet)
    {
        QRect framed, centred;
        const auto area = room();
        const auto placed = [&] {
            framed = sheet.windowHandle()->frameGeometry();
            centred = QRect(QPoint(0, 0), framed.size());
            centred.moveCenter(window().windowHandle()->frameGeometry().center());
            centred.moveLeft(
                std::clamp(centred.left(), area.left(), std::max(area.left(), area.right() + 1 - centred.width())));
            centred.moveTop(
                std::clamp(centred.top(), area.top(), std::max(area.top(), area.bottom() + 1 - centred.height())));
            return area.contains(framed) && (framed.topLeft() - centred.topLeft()).manhattanLength() <= 2;
        };
        EXPECT_TRUE(QTest::qWaitFor(placed, 5'000))
            << "frame " << framed.width() << "x" << framed.height() << " at " << framed.x() << "," << framed.y()
            << ", centred at " << centred.x() << "," << centred.y();
    }

    // Five caches of three files each, scanned, on the Review list; null
    // where the list never showed them.
    ReviewList* reviewOfFiveCaches()
    {
        for (const auto* cache : {".npm/_cacache", ".cache/thumbnails", ".cache/pip", ".cache/yarn", ".gradle/caches"})
            for (int i = 0; i < 3; ++i) testing::writeFile(temp.home / cache / ("blob" + std::to_string(i)), 400'000);
        app->mainView()->setSection(AppSection::storage);
        if (diskPage() == nullptr) return nullptr;
        auto& model = app->mainView()->diskModel();
        model.scan(temp.home.string());
        if (!QTest::qWaitFor([&] { return model.status().kind == DiskModelStatus::Kind::ready; }, 60'000))
            return nullptr;
        diskPage()->state().setSidebarMode(DiskSidebarMode::cleanup);
        auto& review = static_cast<ReviewList&>(diskPage()->mapPanel().sidebar().modeContent(DiskSidebarMode::cleanup));
        const bool listed = QTest::qWaitFor([&] { return review.rows().size() >= 4; }, 30'000) &&
                            QTest::qWaitFor([&] { return !model.cleanupInProgress(); }, 30'000);
        return listed ? &review : nullptr;
    }

    testing::TempHome temp;
};

}  // namespace corvalent
