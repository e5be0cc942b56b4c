#pragma once

// A temp home and data folder for the Trash executor's tests, so that the
// Trash is a real one of the test's own.

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/disk/disk.h"
#include "core/disk/trash/disk_trash.h"
#include "test_support.h"

namespace corvalent::testing {

namespace fs = std::filesystem;
using Kind = DiskTrashError::Kind;

inline std::string contents(const fs::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

inline void write(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

class TrashTest : public ::testing::Test {
protected:
    testing::TempDir root;
    fs::path home = root.path() / "home";
    fs::path data = root.path() / "data";
    fs::path work = root.path() / "work";
    std::string savedHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";

    void SetUp() override
    {
        fs::create_directories(home);
        fs::create_directories(work);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    }
    void TearDown() override
    {
        ::setenv("HOME", savedHome.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
    }

    static DiskCleanupCandidate candidate(const fs::path& path)
    {
        return DiskInsights::classify(path.string(), 1, fs::is_directory(fs::symlink_status(path)), {});
    }
    // As the map or the largest files offer an item of a scan's result (a
    // duplicate card offers the files of the result's groups): with what the
    // scan measured of it.
    static DiskCleanupCandidate scannedCandidate(const DiskScanResult& result, const fs::path& path,
                                                 std::vector<DiskFile> files = {})
    {
        files.insert(files.end(), result.largestFiles.begin(), result.largestFiles.end());
        const auto file = std::ranges::find(files, path.string(), &DiskFile::path);
        const auto* node = result.root.node(path.string());
        if (file == files.end() && node == nullptr) ADD_FAILURE() << "not in the result: " << path;
        auto offered = DiskInsights::classify(path.string(), 1, file == files.end(), {});
        offered.scanned = file != files.end() ? DiskScannedItem::of(*file)
                          : node != nullptr   ? DiskScannedItem::of(*node)
                                              : std::nullopt;
        return offered;
    }
    static DiskTrashReceipt trashed(const fs::path& path)
    {
        return DiskTrashExecutor::moveToTrash(DiskTrashExecutor::prepare(candidate(path)));
    }
    fs::path infoFile(const DiskTrashReceipt& receipt) const
    {
        return data / "Trash" / "info" / (fs::path(receipt.trashedPath).filename().string() + ".trashinfo");
    }
    fs::path trashFiles() const { return data / "Trash" / "files"; }
    bool trashEmpty() const { return !fs::exists(trashFiles()) || fs::is_empty(trashFiles()); }

    static void expectRefused(Kind kind, const std::function<void()>& action, const std::string& text = {})
    {
        try {
            action();
            ADD_FAILURE() << "no refusal";
        } catch (const DiskTrashError& error) {
            EXPECT_EQ(error.kind(), kind) << error.what();
            if (!text.empty()) {
                EXPECT_EQ(error.what(), text);
            }
        }
    }
};

}  // namespace corvalent::testing
