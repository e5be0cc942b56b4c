#pragma once

#include <QTest>

#include <cstdint>
#include <string>

#include "core/disk/disk.h"

namespace corvalent::testing {

// A volume the test lists, with the capacity it gives.
inline DiskVolume listedVolume(const std::string& url, std::uint64_t total, std::uint64_t available)
{
    return {url, url, url, DiskCapacity::make(url, total, available), true, false};
}

// Runs an action that reports its end through a callback, and waits for it.
template <typename Action>
bool await(Action action, int timeoutMs = 20'000)
{
    bool done = false;
    action([&] { done = true; });
    return QTest::qWaitFor([&] { return done; }, timeoutMs);
}

}  // namespace corvalent::testing
