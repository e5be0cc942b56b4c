// The inspector inside the real process page, on a real model sampling the
// real process table, with real child processes the tests start.
#include <gtest/gtest.h>
#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "core/common/display.h"
#include "models/background_task.h"
#include "models/vantle_model.h"
#include "processes/process_page_fixture.h"
#include "test_support.h"
#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/icons/process_icon_view.h"
#include "ui/processes/inspector/process_inspector.h"
#include "ui/processes/inspector/process_inspector_cards.h"
#include "ui/processes/inspector/process_inspector_member.h"
#include "ui/processes/inspector/process_inspector_texts.h"
#include "ui/processes/process_page.h"
#include "ui/shell/app_appearance.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

using testing::ChildProcess;

// A copy of a program so deep in folders that the kernel cannot report its
// path. It is started through an open descriptor, as no path reaches it.
class DeepProgram {
public:
    DeepProgram(const std::filesystem::path& base, const std::filesystem::path& program)
    {
        int dir = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; i < depth; ++i) {
            ::mkdirat(dir, part.c_str(), 0700);
            const int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(dir);
            dir = next;
        }
        std::ifstream in(program, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        const int out = ::openat(dir, "program", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
        EXPECT_EQ(::write(out, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(out);
        fd_ = ::openat(dir, "program", O_RDONLY);  // inherited by the child that runs it
        ::close(dir);
        base_ = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~DeepProgram()
    {
        ::close(fd_);
        std::vector<int> dirs{base_};
        for (int i = 0; i < depth; ++i)
            dirs.push_back(::openat(dirs.back(), part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ::unlinkat(dirs.back(), "program", 0);
        for (int i = depth; i > 0; --i) {
            ::close(dirs[i]);
            ::unlinkat(dirs[i - 1], part.c_str(), AT_REMOVEDIR);
        }
        ::close(base_);
    }
    std::filesystem::path executable() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    static constexpr int depth = 22;
    const std::string part = std::string(200, 'd');
    int fd_ = -1;
    int base_ = -1;
};

class ProcessInspectorTest : public ProcessPageFixture {
protected:
    ProcessInspector& inspector() { return *page->findChild<ProcessInspector*>(); }
    // Focuses the group that holds `pid`, and gives it.
    ProcessGroup focus(pid_t pid)
    {
        for (const auto& group : model->groups())
            for (const auto& member : group.members)
                if (member.pid == pid) {
                    model->setFocused(group.id);
                    QCoreApplication::processEvents();
                    return group;
                }
        ADD_FAILURE() << "no group holds " << pid;
        return {};
    }
    QString tile(const QString& label) { return inspector().tile(label)->value(); }
    void screenshot(const QString& name)
    {
        settle();  // past the inspector's fade
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        EXPECT_TRUE(page->inspector().grab().save(QString(CORVALENT_SCREENSHOTS) + "/inspector-" + name + ".png"));
    }
};

TEST_F(ProcessInspectorTest, APlaceholderUntilAListedGroupIsFocusedThenTheGroupInFull)
{
    auto& child = start("zq-inspect", {"--touch", "16"});
    open();
    EXPECT_TRUE(inspector().showsPlaceholder());
    screenshot("placeholder");
    refresh();
    const auto group = focus(child.pid());
    ASSERT_FALSE(inspector().showsPlaceholder());

    EXPECT_EQ(inspector().header().title(), "zq-inspect");
    EXPECT_EQ(inspector().header().statusText(), "Available to review");
    EXPECT_EQ(tile("CPU"), "\u2014") << "a first sample has no share yet";
    EXPECT_EQ(tile("PROCESSES"), "1");
    EXPECT_EQ(inspector().relatedText(), "1 related");
    EXPECT_EQ(inspector().impact().impact(), QString::fromStdString(group.impact));

    ASSERT_EQ(inspector().rows().size(), 1u);
    const auto& row = *inspector().rows().front();
    const auto& record = group.members.front();
    EXPECT_EQ(row.name(), "zq-inspect");
    EXPECT_EQ(row.memory(), QString::fromStdString(Display::bytes(*record.memory)));
    EXPECT_EQ(row.facts(), QString("PID %1 \u00b7 Parent %2 \u00b7 Running just started").arg(child.pid()).arg(getpid()));
    EXPECT_EQ(row.reason(), "") << "a stoppable process shows no lock";
    EXPECT_EQ(row.path(), QString::fromStdString((bin.path() / "zq-inspect").string()));
    EXPECT_TRUE(row.icon().source().has_value());
    screenshot("light");
    host.setPalette(darkPalette());
    screenshot("dark");

    model->setFocused("no-such-group");
    QCoreApplication::processEvents();
    EXPECT_TRUE(inspector().showsPlaceholder()) << "a focused id that no group has";
}

TEST_F(ProcessInspectorTest, AProtectedGroupIsViewOnlyWithItsReason)
{
    auto& child = start("wireplumber");
    open();
    model->setShowProtectedProcesses(true);
    refresh();
    focus(child.pid());
    EXPECT_EQ(inspector().header().statusText(), "Critical system service");
    auto* row = inspector().row(child.pid());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->reason(), "Critical system service");
    EXPECT_FALSE(row->check().isEnabled());
    screenshot("protected");

    // Hidden again by the setting, it gives way to the placeholder.
    model->setShowProtectedProcesses(false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(inspector().showsPlaceholder());
}

TEST_F(ProcessInspectorTest, AnExecutableWhosePathCannotBeReadSaysSoAndDrawsTheSymbol)
{
    const DeepProgram deep(bin.path(), testing::idleChildProgram());
    auto& child = run(deep.executable());
    open();
    model->setShowProtectedProcesses(true);
    refresh();
    focus(child.pid());
    auto* row = inspector().row(child.pid());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->path(), "Executable path unavailable");
    EXPECT_EQ(row->reason(), "Executable identity is unavailable");
    EXPECT_FALSE(row->icon().source().has_value());
    EXPECT_EQ(row->folder(), "Folder: " + QString::fromStdString(bin.path().string()));
}

TEST_F(ProcessInspectorTest, AMemberCheckboxSelectsOnlyItsProcessAndAnEndedMemberLosesItsRow)
{
    auto& first = start("zq-pair");
    auto& second = start("zq-pair");
    open();
    refresh();
    focus(first.pid());
    ASSERT_EQ(inspector().rows().size(), 2u);
    EXPECT_EQ(inspector().relatedText(), "2 related");
    auto* check = inspector().findChild<QCheckBox*>(QString("memberCheck:%1").arg(first.pid()));
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->accessibleName(), "Select zq-pair");

    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
    QCoreApplication::processEvents();
    const auto firstID = inspector().row(first.pid())->id();
    EXPECT_EQ(model->selected(), std::set<std::string>{firstID});
    EXPECT_TRUE(check->isChecked());
    EXPECT_EQ(check->accessibleName(), "Deselect zq-pair");
    EXPECT_FALSE(inspector().row(second.pid())->check().isChecked());

    // The other process ends: its row goes with the next sample, the
    // remaining row stays the same widget and keeps its state.
    auto* kept = inspector().row(first.pid());
    ::kill(second.pid(), SIGKILL);
    second.wait();
    refresh();
    ASSERT_EQ(inspector().rows().size(), 1u);
    EXPECT_EQ(inspector().rows().front(), kept);
    EXPECT_EQ(inspector().row(second.pid()), nullptr);
    EXPECT_TRUE(check->isChecked());

    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
    QCoreApplication::processEvents();
    EXPECT_TRUE(model->selected().empty());
}

// A reader's Toggle on a member's checkbox selects its process as a click
// does, so the next sample keeps it; members of one name differ by PID.
TEST_F(ProcessInspectorTest, AReadersToggleOnAMemberSelectsItsProcessAndEachNamesItsPID)
{
    const auto toggle = QAccessibleActionInterface::toggleAction();
    auto& first = start("zq-heard");
    auto& second = start("zq-heard");
    open();
    refresh();
    focus(first.pid());
    auto* check = inspector().findChild<QCheckBox*>(QString("memberCheck:%1").arg(first.pid()));
    auto* other = inspector().findChild<QCheckBox*>(QString("memberCheck:%1").arg(second.pid()));
    ASSERT_NE(check, nullptr);
    ASSERT_NE(other, nullptr);
    auto* reader = QAccessible::queryAccessibleInterface(check);
    EXPECT_EQ(reader->role(), QAccessible::CheckBox);
    EXPECT_EQ(reader->text(QAccessible::Name), "Select zq-heard");
    EXPECT_EQ(reader->text(QAccessible::Description), QString("PID %1").arg(first.pid()));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(other)->text(QAccessible::Description),
              QString("PID %1").arg(second.pid()));

    reader->actionInterface()->doAction(toggle);
    QCoreApplication::processEvents();
    const auto firstID = inspector().row(first.pid())->id();
    EXPECT_EQ(model->selected(), std::set<std::string>{firstID});
    refresh();
    EXPECT_EQ(model->selected(), std::set<std::string>{firstID}) << "the next sample keeps it";
    EXPECT_TRUE(check->isChecked());
    EXPECT_EQ(reader->text(QAccessible::Name), "Deselect zq-heard");

    reader->actionInterface()->doAction(toggle);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model->selected().empty());
    EXPECT_FALSE(check->isChecked());
}

TEST_F(ProcessInspectorTest, RowsGrowAsTheyScrollASampleKeepsThePlaceAndAnotherGroupOpensAtItsHeader)
{
    ChildProcess* many = nullptr;
    for (int i = 0; i < 45; ++i) many = &start("zq-many");
    auto& other = start("zq-other");
    open({920, 620});
    refresh();
    focus(many->pid());
    EXPECT_EQ(inspector().relatedText(), "45 related");
    EXPECT_EQ(inspector().rows().size(), 40u) << "rows further down are built when scrolled to";
    auto* bar = inspector().scrollArea().verticalScrollBar();
    ASSERT_GT(bar->maximum(), 200);
    bar->setValue(200);
    refresh();
    EXPECT_EQ(bar->value(), 200);
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    EXPECT_EQ(inspector().rows().size(), 45u);
    focus(other.pid());
    EXPECT_EQ(bar->value(), 0);
}

TEST(InspectorTexts, MissingAndDerivedValuesHaveFixedWordings)
{
    EXPECT_EQ(InspectorTexts::role("language server"), "Language Server");
    ProcessRecord later;
    later.pid = 7;
    later.parent = 1;
    later.started = 4'000'000'000ULL * 1'000'000;
    EXPECT_EQ(InspectorTexts::facts(later, 1'000), "PID 7 \u00b7 Parent 1 \u00b7 Running just started")
        << "a start after the clock";
    EXPECT_EQ(InspectorTexts::status(ProcessGroup{}).text, "Protected \u00b7 view only");
}

}  // namespace
}  // namespace corvalent
