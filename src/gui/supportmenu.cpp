#include "gui/mainactions.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTabWidget>
#include <QTextStream>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

#include "app/productiontests.h"
#include "gui/mainwindow.h"
#include "gui/messageboxes.h"
#include "link/programmer.h"

// The workshop's Support menu and the Help menu: their actions (built with the others' rules), the
// readme, the help file and About.
namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

// The support pages: the product page of the chip family, the maker's site and its download page.
struct TSupportLink {
    const char* caption;
    const char* url;
};
const TSupportLink kSupportLinks[] = {
    {"COP8 Website", "https://www.zemprix.example/cop8"},
    {"Tarvo Website", "https://www.zemprix.example/"},
    {"Software Updates", "https://www.zemprix.example/support"},
};
}  // namespace

void TMainActions::BuildSupportMenu()
{
    QAction* a = nullptr;
    // The workshop's menu, shown by Shift+About.
    SupportMenu = w_.menuBar()->addMenu(QStringLiteral("Support"));
    SupportMenu->menuAction()->setVisible(false);
    QMenu* generate = SupportMenu->addMenu(QStringLiteral("Generate Test Files"));
    RandomData = Add(generate, "RandomData", QStringLiteral("Random Data"), {}, [this] {
        if (const TDevice* d = w_.session_->Device()) production::RandomData(w_.session_->Project().Flash, *d, w_.random_);
    });
    PagedTestFile = Add(generate, "PagedTestFile", QStringLiteral("Paged Test File"), {}, [this] {
        if (const TDevice* d = w_.session_->Device()) production::PagedTestFile(w_.session_->Project().Flash, *d);
    });
    QMenu* tools = SupportMenu->addMenu(QStringLiteral("Build Tools"));
    EncodeFile = Add(tools, "EncodeFile", QStringLiteral("Encode File"), {}, [] {}, [] { return false; });
    CopyDeviceList = Add(tools, "CopyDeviceList", QStringLiteral("Copy device list to clipboard."), {}, [this] {
        if (const TISPProgrammer* p = w_.session_->Programmer())
            QGuiApplication::clipboard()->setText(Q(production::DeviceListText(p->DeviceSetOf())));
    });
    QMenu* tests = SupportMenu->addMenu(QStringLiteral("Test Functions"));
    FlashWriteTests = Add(tests, "FlashWriteTests", QStringLiteral("Flash Write Tests"), {}, [this] {
        w_.Command([this] {
            production::FlashWriteTests(w_.session_->Commands(), w_.random_, [this](const std::string& m) {
                w_.OnWindow([&] { w_.boxes_.Inform(&w_, TMain::kApplicationTitle, Q(m)); });
            });
        });
    });
    AutoProgramSeries = Add(tests, "AutoProgramSeries", QStringLiteral("25 AutoPrograms test"), {}, [this] {
        w_.Command([this] { production::AutoProgramSeries(w_.session_->Commands(), w_.session_->AutoProgram()); });
    });
    TestAllFreqs = Add(tests, "TestAllFreqs", QStringLiteral("Test All Freqs"), {}, [this] {
        w_.Command([this] { production::TestAllFreqs(w_.session_->Commands(), w_.session_->AutoProgram()); });
    });
    a = EnableAdvanced = Add(SupportMenu, "EnableAdvanced", QStringLiteral("Enable Advanced button"), {}, [] {});
    a->setCheckable(true);
}

void TMainActions::BuildHelpMenu()
{
    auto can = [this] { return w_.CanOperate(); };
    QAction* a = nullptr;
    QMenu* help = w_.menuBar()->addMenu(QStringLiteral("&Help"));
    HelpReadme = Add(help, "HelpReadme", QStringLiteral("Readme"), {}, [this] { w_.ViewReadme(); },
              [this] { return QFileInfo::exists(w_.ReadmePath()); });
    HelpTopics = Add(help, "HelpTopics", QStringLiteral("Help Topics"), QKeySequence(Qt::Key_F1), [this] {
        const QString helpFile = w_.HelpPath();
        const QUrl url = QUrl::fromLocalFile(helpFile);
        if (QFileInfo::exists(helpFile)) {
            // Without a browser the open fails quietly; the user is told where the file is instead.
            if (!(w_.urlOpener_ ? w_.urlOpener_(url) : QDesktopServices::openUrl(url)))
                w_.boxes_.Inform(&w_, TMain::kApplicationTitle,
                                 QStringLiteral("No web browser could open the help file. It is at %1.").arg(helpFile));
        } else
            w_.boxes_.Inform(&w_, TMain::kApplicationTitle, QStringLiteral("The help file %1 is not installed.").arg(helpFile));
    });
    QMenu* online = help->addMenu(QStringLiteral("Online Support"));
    for (const TSupportLink& link : kSupportLinks) {
        const QString url = QString::fromLatin1(link.url);
        Add(online, QStringLiteral("Support ") + link.caption, QString::fromLatin1(link.caption), {},
                  [url] { QDesktopServices::openUrl(QUrl(url)); });
    }
    FirmwareUpdate = Add(help, "FirmwareUpdate", QStringLiteral("Firmware Update"), {}, [this] { w_.FirmwareUpdate(); }, can);
    QMenu* qa = help->addMenu(QStringLiteral("QA"));
    a = EnableLogFile = Add(qa, "EnableLogFile", QStringLiteral("Enable LogFile"), {}, [] {});
    a->setCheckable(true);
    help->addSeparator();
    HelpAbout = Add(help, "HelpAbout", QStringLiteral("About"), {}, [this] {
        w_.About(QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier);
    });
}

QString TMain::ReadmePath() const
{
    // Beside the program, else where a package installs it.
    const QString beside = QDir(programFolder_).filePath(QStringLiteral("readme.txt"));
    const QString shared = QDir(programFolder_).filePath(QStringLiteral("../share/zemprix/readme.txt"));
    return QFileInfo::exists(beside) || !QFileInfo::exists(shared) ? beside : QDir::cleanPath(shared);
}

QString TMain::HelpPath() const
{
    // The package keeps the help under share/zemprix, since /usr/share/doc may be left out of an
    // installation; share/doc/zemprix is the older place. When none exists the package's place is
    // the one named.
    const QDir folder(programFolder_);
    const QString candidates[] = {folder.filePath(QStringLiteral("doc/index.html")),
                                  folder.filePath(QStringLiteral("../share/zemprix/doc/index.html")),
                                  folder.filePath(QStringLiteral("../share/doc/zemprix/index.html"))};
    for (const QString& candidate : candidates)
        if (QFileInfo::exists(candidate)) return QDir::cleanPath(candidate);
    return QDir::cleanPath(candidates[1]);
}

void TMain::ViewReadme()
{
    Command([this] {
        TOperationRunner& runner = session_->Runner();
        runner.StartOp("README: Loading File");
        runner.ClearLog();
        QString path;
        // The log's clearing is queued behind the start line, so the page starts with the file.
        OnWindow([&] {
            statusLog_->clear();
            path = ReadmePath();
        });
        QFile file(path);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream in(&file);
            while (!in.atEnd()) runner.AppendLog(in.readLine().toStdString());
        }
        OnWindow([&] { pages_->setCurrentIndex(StatusPage); });
        runner.EndOp("README: File Loaded Successfully");
    });
}

QString TMain::AboutText()
{
    return QStringLiteral("%1\nHardware Support:\nZEMPRIX - \n\nVersion: v%2")
        .arg(QString::fromLatin1(kApplicationTitle), QStringLiteral(ZEMPRIX_FILE_VERSION));
}

void TMain::About(bool shift)
{
    if (shift) {
        actions_->SupportMenu->menuAction()->setVisible(true);
        return;
    }
    boxes_.Inform(this, QStringLiteral("About"), AboutText());
}
