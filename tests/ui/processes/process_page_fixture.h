#pragma once

// The process page offscreen, on a real model sampling the real process table,
// with real child processes the tests start under names of their choosing.

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fresh_sample.h"
#include "live_environments.h"
#include "models/vantle_model.h"
#include "test_support.h"
#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/list/process_row_delegate.h"
#include "ui/processes/process_page.h"
#include "ui/shell/app_appearance.h"
#include "ui_settle.h"

namespace corvalent {

class ProcessPageFixture : public ::testing::Test {
protected:
    testing::TempDir bin = testing::tempDirUnderHome();
    std::vector<std::unique_ptr<testing::ChildProcess>> children;
    std::unique_ptr<VantleModel> model;
    std::unique_ptr<ProcessIconStore> icons = std::make_unique<ProcessIconStore>();
    QWidget host;
    ProcessPage* page = nullptr;

    ProcessPageFixture()
    {
        QSettings().clear();
        model = std::make_unique<VantleModel>(liveProcessEnvironment());
        model->setWindowShown(true);
    }
    ~ProcessPageFixture() override
    {
        delete page;
        drainProcessLane();
    }

    // The idle helper under `name` (copied once), started with `arguments`.
    testing::ChildProcess& start(const std::string& name, const std::vector<std::string>& arguments = {})
    {
        auto program = bin.path() / name;
        if (!std::filesystem::exists(program))
            program = testing::copyExecutable(testing::idleChildProgram(), bin.path(), name);
        return run(program, arguments);
    }
    testing::ChildProcess& run(const std::filesystem::path& program, const std::vector<std::string>& arguments = {})
    {
        children.push_back(std::make_unique<testing::ChildProcess>(program, arguments, bin.path()));
        return *children.back();
    }
    // A sample taken after every child started so far.
    void refresh()
    {
        ASSERT_TRUE(sampleFromNow(*model));
        QCoreApplication::processEvents();
    }
    void open(QSize size = {1180, 760}, const QPalette& palette = lightPalette())
    {
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(page = new ProcessPage(*model, *icons));
        host.resize(size);
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
        QCoreApplication::processEvents();
    }
};

// The page with what its tests read and press: rows, spots to click, the
// search, and screenshots.
class ProcessPageTest : public ProcessPageFixture {
protected:
    ProcessListPane& pane() { return page->listPane(); }
    ProcessListView& list() { return pane().list(); }
    ProcessListModel& rows() { return list().rows(); }
    QString title(int row) { return rows().row(row).titleText(); }
    QString chipValue(const QString& title) { return page->chip(title)->findChild<QLabel*>("chipValue")->text(); }
    bool emphasized(const QString& title) { return page->chip(title)->property("emphasized").toBool(); }
    QString labelText(const char* name) { return page->findChild<QLabel*>(name)->text(); }

    QPoint glyphCentre(int row)
    {
        return list().rowDelegate().glyphRect(list().visualRect(rows().index(row)), row).center().toPoint();
    }
    QPoint titleSpot(int row)
    {
        const auto area = list().rowDelegate().rowRect(list().visualRect(rows().index(row)), row);
        return QPoint(static_cast<int>(area.left() + 140), static_cast<int>(area.center().y()));
    }
    void click(QPoint at) { QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, at); }
    void search(const QString& text)
    {
        pane().searchField().clear();
        QTest::keyClicks(&pane().searchField(), text);
        QCoreApplication::processEvents();
    }
    void screenshot(const QString& name)
    {
        settle();  // past the inspector's and the rows' transitions
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        EXPECT_TRUE(host.grab().save(QString(CORVALENT_SCREENSHOTS) + "/process-page-" + name + ".png"));
    }
};

}  // namespace corvalent
