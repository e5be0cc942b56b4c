#pragma once

// The process page offscreen, on a real model sampling the real process table,
// with real child processes the tests start under names of their choosing.

#include <gtest/gtest.h>
#include <QCoreApplication>
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
#include "ui/processes/process_page.h"
#include "ui/shell/app_appearance.h"

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

}  // namespace corvalent
