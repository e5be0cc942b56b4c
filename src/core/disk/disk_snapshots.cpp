#include "core/disk/disk_snapshots.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <algorithm>
#include <vector>

#include "core/common/child_process.h"

namespace corvalent {
namespace {

// A decoded property-list value; only what the snapshot list needs is kept.
struct PlistValue {
    enum class Type { dict, array, string, integer, real, boolean, data, date };

    Type type = Type::string;
    bool boolean = false;
    bool nonZero = false;            // integer and real
    std::vector<QString> keys;       // dict, in document order
    std::vector<PlistValue> values;  // dict (parallel to keys) and array

    const PlistValue* find(const QString& key) const
    {
        const auto at = std::find(keys.begin(), keys.end(), key);
        return at == keys.end() ? nullptr : &values[static_cast<std::size_t>(at - keys.begin())];
    }
};

// Deeper nesting than any real listing has would only exhaust the stack.
constexpr int maxDepth = 64;

class PlistReader {
public:
    explicit PlistReader(std::string_view text)
        : reader_(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())))
    {
    }

    // The top-level dictionary of a well-formed document.
    std::optional<PlistValue> topDictionary()
    {
        if (!reader_.readNextStartElement() || reader_.name() != u"plist") return std::nullopt;
        if (!reader_.readNextStartElement() || reader_.name() != u"dict") return std::nullopt;
        auto top = value(0);
        // One value only, and the rest of the document must still be well formed.
        if (!top || reader_.readNextStartElement()) return std::nullopt;
        while (!reader_.atEnd()) reader_.readNext();
        if (reader_.hasError()) return std::nullopt;
        return top;
    }

private:
    // Reads the element the reader stands on, leaving it on its end.
    std::optional<PlistValue> value(int depth)
    {
        if (depth > maxDepth) return std::nullopt;
        const auto name = reader_.name();
        PlistValue result;
        if (name == u"dict") {
            result.type = PlistValue::Type::dict;
            while (reader_.readNextStartElement()) {
                if (reader_.name() != u"key") return std::nullopt;
                auto key = reader_.readElementText();
                if (reader_.hasError() || !reader_.readNextStartElement()) return std::nullopt;
                auto entry = value(depth + 1);
                if (!entry) return std::nullopt;
                result.keys.push_back(std::move(key));
                result.values.push_back(std::move(*entry));
            }
        } else if (name == u"array") {
            result.type = PlistValue::Type::array;
            while (reader_.readNextStartElement()) {
                auto entry = value(depth + 1);
                if (!entry) return std::nullopt;
                result.values.push_back(std::move(*entry));
            }
        } else if (name == u"true" || name == u"false") {
            result.type = PlistValue::Type::boolean;
            result.boolean = name == u"true";
            reader_.readElementText();
        } else if (name == u"integer" || name == u"real") {
            const bool integer = name == u"integer";
            result.type = integer ? PlistValue::Type::integer : PlistValue::Type::real;
            const auto text = reader_.readElementText().trimmed();
            bool ok = false;
            if (integer) {
                // Property lists carry signed and unsigned 64-bit integers.
                const auto signedValue = text.toLongLong(&ok);
                if (ok)
                    result.nonZero = signedValue != 0;
                else
                    result.nonZero = text.toULongLong(&ok) != 0;
            } else {
                result.nonZero = text.toDouble(&ok) != 0.0;
            }
            if (!ok) return std::nullopt;
        } else if (name == u"string" || name == u"data" || name == u"date") {
            // The name is a view into the reader's buffer: decide before reading on.
            result.type = name == u"string" ? PlistValue::Type::string
                          : name == u"data" ? PlistValue::Type::data
                                            : PlistValue::Type::date;
            reader_.readElementText();
        } else {
            return std::nullopt;
        }
        if (reader_.hasError()) return std::nullopt;
        return result;
    }

    QXmlStreamReader reader_;
};

bool isArrayOfDictionaries(const PlistValue* value)
{
    return value && value->type == PlistValue::Type::array &&
           std::all_of(value->values.begin(), value->values.end(),
                       [](const PlistValue& entry) { return entry.type == PlistValue::Type::dict; });
}

std::optional<bool> purgeableMark(const PlistValue& snapshot)
{
    const auto* mark = snapshot.find(QStringLiteral("Purgeable"));
    if (!mark) return std::nullopt;
    switch (mark->type) {
        case PlistValue::Type::boolean: return mark->boolean;
        case PlistValue::Type::integer:
        case PlistValue::Type::real: return mark->nonZero;
        default: return std::nullopt;
    }
}

bool isRunnable(const std::string& tool)
{
    struct stat info {};
    return !tool.empty() && ::stat(tool.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(tool.c_str(), X_OK) == 0;
}

}  // namespace

namespace DiskInsights {

std::optional<APFSSnapshotSummary> parseAPFSSnapshots(std::string_view plist)
{
    if (plist.starts_with("bplist")) return std::nullopt;
    const auto top = PlistReader(plist).topDictionary();
    if (!top) return std::nullopt;

    const PlistValue* list = top->find(QStringLiteral("Snapshots"));
    if (!isArrayOfDictionaries(list)) list = top->find(QStringLiteral("APFSSnapshots"));
    if (!isArrayOfDictionaries(list)) return std::nullopt;

    APFSSnapshotSummary summary;
    summary.count = static_cast<std::int64_t>(list->values.size());
    for (const auto& snapshot : list->values) {
        if (const auto mark = purgeableMark(snapshot))
            summary.purgeableCount = summary.purgeableCount.value_or(0) + (*mark ? 1 : 0);
    }
    return summary;
}

}  // namespace DiskInsights

namespace APFSSnapshotProbe {

std::optional<APFSSnapshotSummary> summary(const std::string& volumePath, std::stop_token stop,
                                           const APFSSnapshotProbeOptions& options)
{
    if (stop.stop_requested() || !isRunnable(options.tool)) return std::nullopt;

    ChildRunRequest request;
    request.executable = options.tool;
    request.arguments = {"apfs", "listSnapshots", volumePath, "-plist"};
    request.outputCap = std::size_t{1} << 20;
    request.deadline = std::max(options.runLimit, std::chrono::milliseconds{0});
    // The runner stops reading once the kill has been sent, so the grace it
    // gives after the deadline is all the waiting for output there is.
    request.killGrace = std::clamp(options.outputWait, std::chrono::milliseconds{0}, std::chrono::milliseconds{500});
    request.stop = stop;
    const auto run = runChild(request);

    if (!run.launched || run.timedOut || run.stopped || run.overflowed || run.exitStatus != 0) return std::nullopt;
    return DiskInsights::parseAPFSSnapshots(run.output);
}

}  // namespace APFSSnapshotProbe
}  // namespace corvalent
