#pragma once

// The texts and states of the process page that follow from the model's
// values alone: chip values, row figures, the selection glyph and what the
// list shows when it has no rows. Pure functions, so tests call them directly.

#include <QString>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/process/process_protection.h"

namespace corvalent {

struct ProcessGroup;

namespace ProcessTexts {

// "Unavailable", or the share of one core as whole percent ("353%").
QString measuredCPU(std::optional<double> percent);
// A count with digit grouping ("12,345").
QString count(std::int64_t value);
QString lastScan(int milliseconds);
QString groupCount(std::size_t groups);
QString hiddenProtected(int processes);
QString liveState(bool scanning);

// "1.2 GB", or "≥ 1.2 GB" when a member's footprint could not be read.
QString memory(std::uint64_t bytes, bool incomplete);
// "12.3% CPU", or "CPU —" before a group has a share.
QString cpu(std::optional<double> percent);
// "1 process", "2 processes": what a reader hears for the member count.
QString memberCount(int members);

// The protection of the first member that may not be stopped, if any.
std::optional<ProcessProtection> blockingProtection(const ProcessGroup& group);
// Its reason; "Protected" when no member carries one.
QString blockingReason(std::optional<ProcessProtection> protection);

// The selection glyph of a row, first case that holds.
enum class Glyph {
    locked,   // nothing in the group may be stopped
    checked,  // every stoppable process is selected
    mixed,    // some are
    empty,    // none are
};
Glyph glyph(const std::vector<std::string>& stoppableIDs, const std::set<std::string>& selected);
QString glyphSymbol(Glyph glyph);
// "Deselect <title>" while all are selected, else "Select <title>".
QString glyphAccessibleName(Glyph glyph, const QString& title);
// "Select <title>" whatever the state; the blocking reason when locked.
QString glyphHelp(Glyph glyph, const QString& title, const QString& blockingReason);

// What stands over the list in place of rows.
enum class ListNotice {
    none,
    reading,  // no sample yet
    empty,    // a sample, no row, no refresh running
};
ListNotice listNotice(bool hasSample, bool hasRows, bool scanning);
QString readingText();
QString emptyTitle();
QString emptyDescription(bool showProtectedProcesses);

}  // namespace ProcessTexts
}  // namespace corvalent
