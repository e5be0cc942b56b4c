#pragma once

// What the own folder chooser's tests share: the names a dialog shows, a
// listing awaited, and a home beside a share that never answers.

#include <QListWidget>
#include <QObject>
#include <QStringList>
#include <QTest>

#include <filesystem>
#include <functional>

#include "slow_mount.h"
#include "test_support.h"
#include "ui/disk/folders/folder_chooser_dialog.h"

namespace corvalent::testing {

inline QStringList shownNames(const FolderChooserDialog& dialog)
{
    QStringList names;
    for (int row = 0; row < dialog.list().count(); ++row) names << dialog.list().item(row)->text();
    return names;
}

inline bool listedAfter(FolderChooserDialog& dialog, const std::function<void()>& action)
{
    bool listed = false;
    const auto connection = QObject::connect(&dialog, &FolderChooserDialog::folderListed, [&] { listed = true; });
    action();
    const bool done = QTest::qWaitFor([&] { return listed; }, 20'000);
    QObject::disconnect(connection);
    return done;
}

// A share mounted in the home whose server never answers again.
struct HomeWithADeadShare {
    TempHome temp;
    SlowTree tree = [] {
        SlowTree dead;
        dead.folders = {"inside"};
        dead.slowStat = dead.slowList = dead.slowStatfs = {"."};
        dead.neverAnswers = true;
        return dead;
    }();
    explicit HomeWithADeadShare(TempHome::Reached reached = TempHome::Reached::directly)
        : temp(reached)
    {
        for (const auto* name : {"Projects", "music", "Music 10", "Music 9", ".config"}) std::filesystem::create_directories(temp.home / name);
        writeFile(temp.home / "notes.txt", 10);
        writeFile(temp.home / "music" / "song.ogg", 40'000);
        std::filesystem::create_directory_symlink(temp.home / "Projects", temp.home / "work");
        std::filesystem::create_directory_symlink(temp.home / "share", temp.home / "share link");
    }
};

}  // namespace corvalent::testing
