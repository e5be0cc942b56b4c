#pragma once

// Samples of the process table that begin after the test asks for them. A
// refresh asked for while another sample is in flight answers at once with
// that one, which may have begun before the child a test just started: so
// wait for the sample in flight to land, then take one of our own.

#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/types.h>

#include "models/vantle_model.h"

namespace corvalent {

// Takes a sample that begins after this call and waits until it is
// published; false when that does not happen within `timeoutMs`.
inline bool sampleFromNow(VantleModel& model, int timeoutMs = 30'000)
{
    if (!QTest::qWaitFor([&] { return !model.scanning(); }, timeoutMs)) return false;
    // Nothing runs between the wait's last look and this call, so this
    // refresh starts a sample of its own. The flag outlives a timed-out wait.
    const auto done = std::make_shared<bool>(false);
    model.refresh([done] { *done = true; });
    return QTest::qWaitFor([&] { return *done; }, timeoutMs);
}

// The record id of `pid` in a sample taken after this call: a process that
// was running before it must be listed. Empty, and a failure, otherwise.
inline std::string recordIDFromNow(VantleModel& model, pid_t pid)
{
    if (!sampleFromNow(model)) {
        ADD_FAILURE() << "no sample arrived";
        return {};
    }
    if (model.snapshot())
        for (const auto& record : model.snapshot()->result.records)
            if (record.pid == pid) return record.id();
    ADD_FAILURE() << "no record of pid " << pid << " in a sample taken after it started";
    return {};
}

}  // namespace corvalent
