#include "ui/processes/list/process_list_pane.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "models/app_notifications.h"
#include "models/vantle_model.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_row_delegate.h"
#include "ui/processes/process_texts.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/check_box.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/segmented_control.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int sortWidth = 180;
// Around and between the title row, the search field and the controls.
constexpr QMargins headerMargins(22, 18, 22, 16);
constexpr QMargins joinedMargins(22, 8, 22, 8);
constexpr int headerSpacing = 14;

// The rounded well the search text sits in, with the kit's ring while a key
// gave the field its focus.
class SearchWell : public QWidget {
public:
    explicit SearchWell(QWidget* parent = nullptr) : QWidget(parent) { setFixedHeight(34); }

    void holdField(QLineEdit& field)
    {
        field_ = &field;
        field.installEventFilter(this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        CorvalentStyle::paintPanel(painter, QRectF(rect()), 9,
                                   CorvalentStyle::withAlpha(palette().color(QPalette::Base), 0.82),
                                   CorvalentStyle::border(palette()));
        if (field_ != nullptr) ring_.paint(painter, *field_, QRectF(rect()), 9);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn) ring_.focusIn(*static_cast<QFocusEvent*>(event));
        if (event->type() == QEvent::FocusOut) ring_.focusOut();
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) update();
        return QWidget::eventFilter(watched, event);
    }

private:
    QLineEdit* field_ = nullptr;
    FocusRing ring_;
};

}  // namespace

ProcessListPane::ProcessListPane(VantleModel& model, ProcessIconStore& icons, QWidget* parent)
    : QWidget(parent), model_(model)
{
    setObjectName("processPane");
    rows_ = new ProcessListModel(model_, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    header_ = new QWidget;
    auto* headerLayout = new QVBoxLayout(header_);
    headerLayout->setContentsMargins(headerMargins);
    headerLayout->setSpacing(headerSpacing);
    headerLayout->addWidget(titleRow_ = buildHeader());
    findRows_ = new QBoxLayout(QBoxLayout::TopToBottom);
    findRows_->setSpacing(headerSpacing);
    findRows_->addWidget(searchRow_ = buildSearch(), 1);
    findRows_->addWidget(controlsRow_ = buildControls(), 0, Qt::AlignVCenter);
    headerLayout->addLayout(findRows_);
    layout->addWidget(header_);
    layout->addWidget(new Divider(Qt::Horizontal));

    auto* stack = new QStackedLayout;
    stack->setStackingMode(QStackedLayout::StackAll);
    list_ = new ProcessListView(*rows_, icons);
    notice_ = buildNotice();
    stack->addWidget(list_);
    stack->addWidget(notice_);
    layout->addLayout(stack, 1);
    notice_->raise();

    // A focused list that empties (its last rows stopped or gone) hands the
    // focus to the search field, where its ring shows and typing goes on.
    const auto emptied = [this] {
        if (rows_->rowCount() == 0 && holdsFocus(*list_)) handFocus(*search_);
    };
    connect(rows_, &QAbstractItemModel::rowsRemoved, this, emptied);
    connect(rows_, &QAbstractItemModel::modelReset, this, emptied);
    connect(&model_, &VantleModel::visibleChanged, this, [this] {
        refreshHeader();
        refreshControls();
        refreshNotice();
    });
    connect(&model_, &VantleModel::scanningChanged, this, [this] {
        refreshHeader();
        refreshNotice();
    });
    connect(&model_, &VantleModel::searchChanged, this, &ProcessListPane::refreshSearch);
    connect(&model_, &VantleModel::sortCPUChanged, this, [this] { sort_->setCurrent(model_.sortCPU() ? 1 : 0); });
    connect(&model_, &VantleModel::showSystemChanged, this, &ProcessListPane::refreshControls);
    connect(&model_, &VantleModel::showProtectedProcessesChanged, this, [this] {
        refreshControls();
        refreshNotice();
    });
    connect(&AppNotifications::instance(), &AppNotifications::performanceScroll, this, &ProcessListPane::scrollTo);
    refreshHeader();
    refreshSearch();
    sort_->setCurrent(model_.sortCPU() ? 1 : 0);
    refreshControls();
    refreshNotice();
}

QWidget* ProcessListPane::buildHeader()
{
    auto* row = new QWidget;
    row->setObjectName("paneTitle");
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(new ElidedLabel(QStringLiteral("Running work"),
                                      CorvalentStyle::font(TextStyle::title3, QFont::DemiBold), Tones::primary()));
    count_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    count_->setObjectName("groupCount");
    titles->addWidget(count_);
    layout->addLayout(titles, 1);

    live_ = new QWidget;
    live_->setObjectName("liveState");
    live_->setFixedSize(18, 18);
    spinner_ = new Spinner(12, live_);
    spinner_->move(3, 3);
    spinner_->setAccessibleName(ProcessTexts::liveState(true));
    liveDot_ =
        new SymbolView(QStringLiteral("circle.fill"), 7,
                       Tones::fixed(CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.82)), {18, 18}, {}, live_);
    liveDot_->setAccessibleName(ProcessTexts::liveState(false));
    layout->addWidget(live_, 0, Qt::AlignVCenter);
    return row;
}

QWidget* ProcessListPane::buildSearch()
{
    auto* well = new SearchWell;
    auto* layout = new QHBoxLayout(well);
    layout->setContentsMargins(11, 0, 7, 0);
    layout->setSpacing(9);
    layout->addWidget(new SymbolView(QStringLiteral("magnifyingglass"), 13, Tones::secondary()));
    search_ = new QLineEdit;
    search_->setObjectName("processSearch");
    search_->setFrame(false);
    search_->setPlaceholderText(QStringLiteral("Search apps, tools, or projects"));
    search_->setAccessibleName(QStringLiteral("Search processes"));
    search_->setFont(CorvalentStyle::font(TextStyle::body));
    search_->setAttribute(Qt::WA_MacShowFocusRect, false);
    auto transparent = search_->palette();
    transparent.setColor(QPalette::Base, Qt::transparent);
    search_->setPalette(transparent);
    layout->addWidget(search_, 1);
    well->holdField(*search_);
    clear_ = new Button(Button::Kind::plain, {});
    clear_->setObjectName("clearSearch");
    clear_->setSymbol(QStringLiteral("xmark.circle.fill"));
    clear_->setAccessibleName(QStringLiteral("Clear search"));
    clear_->setToolTip(QStringLiteral("Clear search"));
    clear_->setFixedSize(24, 24);
    layout->addWidget(clear_);
    connect(search_, &QLineEdit::textEdited, this, [this](const QString& text) { model_.setSearch(text); });
    connect(clear_, &QAbstractButton::clicked, this, [this] {
        model_.setSearch({});
        search_->setFocus(Qt::OtherFocusReason);
    });
    // Escape empties the field too, without a trip to the clear button.
    search_->installEventFilter(this);
    return well;
}

QWidget* ProcessListPane::buildControls()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    sort_ = new SegmentedControl(QStringLiteral("Sort by"));
    sort_->setObjectName("sortControl");
    sort_->setToolTip(QStringLiteral("Sort by"));
    sort_->setSegmentWidth((sortWidth - 2) / 2);
    sort_->addSegment(QStringLiteral("Memory"), {}, 0);
    sort_->addSegment(QStringLiteral("CPU"), {}, 1);
    connect(sort_, &SegmentedControl::chosen, this, [this](int id) { model_.setSortCPU(id == 1); });
    layout->addWidget(sort_);

    includeSystem_ = new CheckBox(QStringLiteral("Include system"));
    includeSystem_->setObjectName("includeSystem");
    includeSystem_->setFont(CorvalentStyle::font(TextStyle::callout));
    connect(includeSystem_, &QCheckBox::toggled, this, [this](bool on) {
        if (on != model_.showSystem()) model_.setShowSystem(on);
    });
    layout->addWidget(includeSystem_);

    hiddenBadge_ = new QWidget;
    hiddenBadge_->setObjectName("protectedHidden");
    hiddenBadge_->setToolTip(QStringLiteral("Show protected processes in Corvalent Settings"));
    auto* badge = new QHBoxLayout(hiddenBadge_);
    badge->setContentsMargins(0, 0, 0, 0);
    badge->setSpacing(5);
    badge->addWidget(new SymbolView(QStringLiteral("eye.slash"), 11, Tones::secondary()));
    hiddenText_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    hiddenText_->setShrinks(false);
    badge->addWidget(hiddenText_);
    layout->addWidget(hiddenBadge_);
    layout->addStretch(1);
    return row;
}

QWidget* ProcessListPane::buildNotice()
{
    auto* notice = new QWidget;
    notice->setObjectName("listNotice");
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QVBoxLayout(notice);
    layout->addStretch(1);

    reading_ = new QWidget;
    auto* reading = new QHBoxLayout(reading_);
    reading->setSpacing(8);
    reading->addStretch(1);
    auto* spinner = new Spinner(14);
    spinner->setAccessibleName(ProcessTexts::readingText());
    reading->addWidget(spinner);
    reading->addWidget(
        new ElidedLabel(ProcessTexts::readingText(), CorvalentStyle::font(TextStyle::callout), Tones::secondary()));
    reading->addStretch(1);
    layout->addWidget(reading_);

    empty_ = new QWidget;
    auto* empty = new QVBoxLayout(empty_);
    empty->setSpacing(8);
    empty->addWidget(new SymbolView(QStringLiteral("magnifyingglass"), 30, Tones::secondary()), 0, Qt::AlignHCenter);
    auto* title = new ElidedLabel(ProcessTexts::emptyTitle(), CorvalentStyle::font(TextStyle::title3, QFont::Bold),
                                  Tones::primary());
    title->setAlignment(Qt::AlignCenter);
    empty->addWidget(title);
    emptyDescription_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    emptyDescription_->setAlignment(Qt::AlignCenter);
    emptyDescription_->setWordWrap(true);
    empty->addWidget(emptyDescription_);
    layout->addWidget(empty_);
    // Above the middle, clear of the shelf that floats over the list's foot.
    layout->addStretch(2);
    return notice;
}

void ProcessListPane::refreshHeader()
{
    count_->setText(ProcessTexts::groupCount(model_.visible().size()));
    const bool scanning = model_.scanning();
    spinner_->setVisible(scanning);
    liveDot_->setVisible(!scanning);
    live_->setToolTip(ProcessTexts::liveState(scanning));
}

void ProcessListPane::refreshSearch()
{
    if (search_->text() != model_.search()) search_->setText(model_.search());
    clear_->setVisible(!model_.search().isEmpty());
}

void ProcessListPane::refreshControls()
{
    const bool showProtected = model_.showProtectedProcesses();
    const int hidden = model_.hiddenProtectedCount();
    includeSystem_->setVisible(showProtected);
    if (includeSystem_->isChecked() != model_.showSystem()) includeSystem_->setChecked(model_.showSystem());
    hiddenBadge_->setVisible(!showProtected && hidden > 0);
    hiddenText_->setText(ProcessTexts::hiddenProtected(hidden));
}

void ProcessListPane::refreshNotice()
{
    const auto notice =
        ProcessTexts::listNotice(model_.snapshot().has_value(), !model_.visible().empty(), model_.scanning());
    notice_->setVisible(notice != ProcessTexts::ListNotice::none);
    reading_->setVisible(notice == ProcessTexts::ListNotice::reading);
    empty_->setVisible(notice == ProcessTexts::ListNotice::empty);
    emptyDescription_->setText(ProcessTexts::emptyDescription(model_.showProtectedProcesses()));
}

QString ProcessListPane::noticeText() const
{
    const auto notice =
        ProcessTexts::listNotice(model_.snapshot().has_value(), !model_.visible().empty(), model_.scanning());
    if (notice == ProcessTexts::ListNotice::reading) return ProcessTexts::readingText();
    if (notice == ProcessTexts::ListNotice::empty) return ProcessTexts::emptyTitle() + '\n' + emptyDescription_->text();
    return {};
}

int ProcessListPane::titleRowHeight() const
{
    return shownHeight(*titleRow_, titleRow_->width()) + headerSpacing;
}

void ProcessListPane::setTitleRowShown(bool shown)
{
    titleRow_->setVisible(shown);
}

int ProcessListPane::joinedRowsSaving() const
{
    const int rows = shownHeight(*searchRow_, searchRow_->width()) + headerSpacing +
                     shownHeight(*controlsRow_, controlsRow_->width());
    const int joined = std::max(shownHeight(*searchRow_, searchRow_->width()),
                                shownHeight(*controlsRow_, controlsRow_->width()));
    return rows - joined + headerMargins.top() + headerMargins.bottom() - joinedMargins.top() -
           joinedMargins.bottom();
}

void ProcessListPane::setRowsJoined(bool joined)
{
    findRows_->setDirection(joined ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    header_->layout()->setContentsMargins(joined ? joinedMargins : headerMargins);
}

int ProcessListPane::fullHeaderHeight() const
{
    const int divider = 1;
    return headerMargins.top() + titleRowHeight() + shownHeight(*searchRow_, searchRow_->width()) + headerSpacing +
           shownHeight(*controlsRow_, controlsRow_->width()) + headerMargins.bottom() + divider;
}

int ProcessListPane::listHeight(int rows)
{
    if (rows <= 0) return 0;
    return ProcessRowDelegate::topPadding + rows * ProcessRowDelegate::rowHeight +
           (rows - 1) * ProcessRowDelegate::rowSpacing;
}

// Only the measurement asks the list to scroll: it centres the named row.
void ProcessListPane::scrollTo(const QString& groupID)
{
    if (!model_.measuring()) return;
    if (const auto row = rows_->rowOf(groupID.toStdString()))
        list_->scrollTo(rows_->index(*row), QAbstractItemView::PositionAtCenter);
}

bool ProcessListPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == search_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !model_.search().isEmpty()) {
        model_.setSearch({});
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ProcessListPane::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CorvalentStyle::withAlpha(CorvalentStyle::windowBackground(palette()), 0.72));
}

}  // namespace corvalent
