#include "gui/mainwindow.h"

// The Flash file commands: load (menu, recent files, a dropped file), reload, save and clear.
#include <QLabel>
#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

#include "app/commands.h"
#include "gui/mainactions.h"
#include "gui/messageboxes.h"
#include "image/hexfile.h"
#include "link/programmer.h"

namespace {
constexpr int kRecentFiles = 5;
const char* const kRecentSection = "main.MRU";

QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void TMain::AddRecentFile(const QString& path)
{
    recent_.removeAll(path);
    recent_.prepend(path);
    while (recent_.size() > kRecentFiles) recent_.removeLast();
    StoreRecentFiles();
}

void TMain::StoreRecentFiles()
{
    TISPSettings& settings = session_->Settings();
    for (int i = 0; i < kRecentFiles; ++i)
        settings.Put(kRecentSection, std::to_string(i), kGlobalGroup,
                     i < recent_.size() ? recent_[i].toStdString() : std::string());
    RebuildRecentMenu();
}

void TMain::RebuildRecentMenu()
{
    actions_->RecentMenu->clear();
    int n = 0;
    for (const QString& path : recent_) {
        QAction* a = actions_->RecentMenu->addAction(QStringLiteral("&%1 %2").arg(++n).arg(path));
        a->setObjectName(QStringLiteral("Recent%1").arg(n));
        connect(a, &QAction::triggered, this, [this, path] { LoadFlashFileNamed(path); });
    }
    actions_->RecentMenu->setEnabled(!recent_.isEmpty());
}

void TMain::LoadFlashFile()
{
    ShowFlashPage();
    int filter = 0;
    const QString path = boxes_.OpenFile(this, QStringLiteral("Load Flash"), openFilters_, filter);
    if (!path.isEmpty()) LoadFlashFileNamed(path);
}

void TMain::LoadFlashFileNamed(const QString& path)
{
    // Loading is not an operation (it sets no busy flag), but it must not run inside one: a file
    // dropped meanwhile is refused with its reason, as a shortcut is.
    if (BusyState() == TBusy::Busy) {
        secondPanel_->setText(QStringLiteral("Loading a file is not available while an operation runs"));
        return;
    }
    SetHourglass(true);
    TAppSession::TLoadResult result;
    Command([&] { result = session_->LoadFlashFile(path.toStdString()); });
    SetHourglass(false);
    if (result.ok) AddRecentFile(path);
}

void TMain::SaveFlashFile()
{
    Command([this] {
        TOperationRunner& runner = session_->Runner();
        runner.StartOp("Flash: Saving File");
        QString path, shown;
        OnWindow([&] {
            int filter = saveFilter_;
            path = boxes_.SaveFile(this, QStringLiteral("Select file for Intel Hex file Save"), saveFilters_, filter,
                                   QStringLiteral("hex"));
            SetHourglass(false);
            saveFilter_ = std::clamp(filter, 0, 9);
            shown = fontMetrics().elidedText(path, Qt::ElideMiddle, kTitlePathPixels);
        });
        if (path.isEmpty()) {
            runner.EndOp("Flash: Save Cancelled");
            return;
        }
        std::string error;
        const std::string file = path.toStdString();
        // A save that did not happen is reported, never shown as saved.
        if (TFileLoader::SaveFile(file, session_->Project().Flash, saveFilter_ + 1, error) != 0) {
            runner.FailOp("Flash: Save Failed (" + shown.toStdString() + ")!" + error);
            return;
        }
        OnWindow([&] { SetTitleSuffix(path); });
        runner.EndOp("Flash: File Saved (" + shown.toStdString() + ")");
    });
}

void TMain::ReloadFlashFile()
{
    Command([this] { commands::ReloadFlashFile(session_->Commands()); });
}

void TMain::ClearFlashBuffer()
{
    Command([this] {
        THexList& image = session_->Project().Flash;
        THexList::TBulkChange bulk(image);
        image.Clear();
        if (TISPProgrammer* p = session_->Programmer()) p->PrepareBlankImage(image);
    });
}

void TMain::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile()) event->acceptProposedAction();
}

void TMain::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    ShowFlashPage();
    LoadFlashFileNamed(urls.front().toLocalFile());
}

void TMain::LoadRecentFiles()
{
    recent_.clear();
    for (int i = 0; i < kRecentFiles; ++i) {
        const std::string path =
            session_->Settings().Get(kRecentSection, std::to_string(i), std::string()).AsString();
        if (!path.empty()) recent_ << Q(path);
    }
    RebuildRecentMenu();
}
