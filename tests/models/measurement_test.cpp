#include <QSettings>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "models/full_disk_access.h"
#include "models/performance_check.h"
#include "models/preferences.h"
#include "test_support.h"

namespace corvalent {
namespace {

TEST(PerformanceReport, FlatJsonAsTheToolsReadIt)
{
    const std::map<std::string, PerformanceCheck::ReportValue> report{
        {"b_path", std::string("/tmp/a \"b\"")}, {"a_count", std::int64_t{9'007'199'254'740'993}}, {"c_ms", 0.25}};
    EXPECT_EQ(PerformanceCheck::reportJSON(report),
              "{\n  \"a_count\" : 9007199254740993,\n  \"b_path\" : \"\\/tmp\\/a \\\"b\\\"\",\n  \"c_ms\" : 0.25\n}");
    EXPECT_EQ(PerformanceCheck::reportJSON({}), "{}");

    EXPECT_EQ(PerformanceCheck::percentile95({}), 0.0) << "no samples is no delay, not a read past the end";
    std::vector<double> samples(750);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<double>(i);
    EXPECT_EQ(PerformanceCheck::percentile95(samples), 711.0);
}

TEST(DiskAccessPreference, AnotherSigningIdentityResetsTheAccessChoices)
{
    // This test program's own settings store, read back through a raw reader.
    QSettings settings;
    settings.clear();
    auto& preferences = Preferences::standard();
    settings.setValue("includePrivacyProtectedLocations", true);
    settings.setValue("hasSeenFullDiskAccessIntroduction", true);
    DiskAccessPreference::migrateSigningIdentityIfNeeded(preferences);
    EXPECT_FALSE(settings.value("includePrivacyProtectedLocations").toBool());
    EXPECT_FALSE(settings.value("hasSeenFullDiskAccessIntroduction").toBool());
    EXPECT_EQ(settings.value("fullDiskAccessSigningIdentity").toString(), "Corvalent-unsigned-v1");
    settings.setValue("hasSeenFullDiskAccessIntroduction", true);
    DiskAccessPreference::migrateSigningIdentityIfNeeded(preferences);
    EXPECT_TRUE(settings.value("hasSeenFullDiskAccessIntroduction").toBool()) << "the same identity keeps it";
    settings.setValue("fullDiskAccessSigningIdentity", "Corvalent-TEAM-v1");
    DiskAccessPreference::migrateSigningIdentityIfNeeded(preferences);
    EXPECT_FALSE(settings.value("hasSeenFullDiskAccessIntroduction").toBool()) << "another identity resets it";
    settings.clear();
}

}  // namespace
}  // namespace corvalent
