#pragma once

// The texts of the inspector that follow from a group and its records alone.
// Pure functions, so tests call them directly.

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

#include "core/process/process_protection.h"

namespace corvalent {

struct ProcessGroup;
struct ProcessRecord;

namespace InspectorTexts {

// The header's status: reviewable as soon as one member may be stopped.
struct Status {
    QString text;
    QString symbol;
    bool reviewable = false;
};
Status status(const ProcessGroup& group);

QString reason(ProcessProtection protection);
// "—" without a share, else "12.3%".
QString cpu(std::optional<double> percent);
QString related(std::size_t members);
// "Executable" for no role, else each word capitalised ("Language Server").
QString role(const std::string& role);
QString memory(std::optional<std::uint64_t> bytes);
// "PID 12 · Parent 1 · Running 3m", the running time up to `nowSeconds`.
QString facts(const ProcessRecord& record, double nowSeconds);
QString path(const std::string& path);
QString folder(const std::string& cwd);
// What the member's checkbox does when pressed: "Select Name" or "Deselect Name".
QString checkName(bool selected, const std::string& name);
// "PID 1234": which of several same-named members a checkbox is, for readers.
QString checkDescription(int pid);
// Said in place of the group once all of its processes have ended.
QString ended(const std::string& title);

// Where a member's icon comes from: the group's application, the
// application holding the executable, the executable itself, or none.
std::optional<QString> memberIconSource(const ProcessGroup& group, const ProcessRecord& record);

}  // namespace InspectorTexts
}  // namespace corvalent
