#pragma once

// The disk workspace: the header over the content the model's status calls
// for (the invitation to scan, the scan's progress, the map, or why a scan
// failed), the access overlay over both when the person reviews access, and
// the view state the panels share. On show it reloads the volumes and then
// probes access; it probes again whenever the application comes to the
// front and whenever the overlay closes. In a short window the header and
// the sidebar's title give way, so that the sidebar keeps two review cards.

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

#include "ui/desktop/file_reveal.h"
#include "ui/disk/disk_view_state.h"
#include "ui/disk/folders/folder_chooser.h"
#include "ui/widgets/focus_handoff.h"


class QStackedWidget;

namespace corvalent {

class DiskHeader;
class DiskMapPanel;
class DiskModel;
class MessageLine;
class UnavailableContent;

class DiskView : public QWidget {
    Q_OBJECT

public:
    struct Environment {
        // The access probe; blocking, run off the GUI thread.
        std::function<FullDiskAccessStatus()> probeAccess;
        // The access overlay over `parent`; it calls `close` when the person leaves it.
        std::function<QWidget*(QWidget* parent, std::function<void()> close)> accessOverlay;
        std::shared_ptr<FolderChooser> folderChooser;
        std::shared_ptr<FileRevealer> revealer;

        // `check` as the probe: the program's one access check, which the
        // application makes and hands in; the desktop's file manager; no
        // folder chooser or overlay until the application gives them.
        static Environment system(std::function<FullDiskAccessStatus()> check);
    };

    enum class Content { empty, progress, map, failed };

    DiskView(DiskModel& model, bool showsInspector, Environment environment, QWidget* parent = nullptr);
    ~DiskView() override;

    DiskViewState& state() { return state_; }
    DiskHeader& header() const { return *header_; }
    bool showsInspector() const { return showsInspector_; }
    // Follows the "showInspector" setting; the page reads it when made.
    void setShowsInspector(bool on);
    Content content() const { return content_; }
    // How many parts give way at the page's height, in this order: the
    // header's subtitle, its title, and the sidebar's title.
    int foldedParts() const { return folded_; }
    QWidget& contentPanel(Content content) const;
    DiskMapPanel& mapPanel() const { return *map_; }
    // The overlay shown while the person reviews access, else null.
    QWidget* accessOverlay() const { return overlay_; }
    // The sheets shown for the state's candidate and guide, else null.
    QDialog* confirmationSheet() const { return confirmation_; }
    QDialog* guideSheet() const { return guide_; }
    // The line that says a reveal could not show its item.
    MessageLine& revealMessage() const { return *revealMessage_; }

    // The commands the header and the panels share.
    const DiskCommands& commands() const { return commands_; }
    void scanSelectedVolume();
    void chooseFolder();
    void stopScan();

    // Probes access off the GUI thread; the status is `checking` meanwhile.
    void refreshFullDiskAccessStatus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showContent();
    void foldToHeight();
    void syncAccessOverlay();
    void syncSheets();
    void resultPublished();

    DiskModel& model_;
    bool showsInspector_;
    Environment environment_;
    DiskViewState state_;
    DiskCommands commands_;
    DiskHeader* header_ = nullptr;
    QWidget* body_ = nullptr;  // header, divider and content
    QStackedWidget* contentStack_ = nullptr;
    std::array<QWidget*, 4> panels_{};
    DiskMapPanel* map_ = nullptr;
    UnavailableContent* failed_ = nullptr;
    MessageLine* revealMessage_ = nullptr;
    Content content_ = Content::empty;
    int folded_ = 0;
    QPointer<QWidget> overlay_;
    // The focus of content that goes (or of the stop control, which turns
    // off), until the next content is shown; and the sidebar's list that
    // held it when the map went.
    FocusHandOn contentFocus_;
    QPointer<QWidget> focusedList_;
    QPointer<QDialog> confirmation_;
    QPointer<QDialog> guide_;
};

}  // namespace corvalent
