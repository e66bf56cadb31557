// The window's gang: several boxes at once, each through a session of its own on its own worker.
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTemporaryDir>

#include "app/autoprogram.h"
#include "app/boardnumbers.h"
#include "app/commands.h"
#include "app/desktoplink.h"
#include "devices/devices.h"
#include "gui/gangpage.h"
#include "gui/mainwindow.h"
#include "gui/statuspanel.h"
#include "image/serialnum.h"
#include "link/hardware.h"
#include "link/portidentity.h"
#include "link/programmer.h"
#include "base/isperrors.h"
#include "store/serialpool.h"

namespace {

const char* const kGangSection = "GANG";

}  // namespace

bool TMain::MarkGangOnWindowsPort()
{
    const std::string own = session_->SerialDevice();
    bool any = false;
    for (auto& slot : gang_) {
        slot->WindowsPort = !own.empty() && TAppSession::SerialDeviceOf(slot->Port) == own;
        any = any || slot->WindowsPort;
    }
    return any;
}

TAppSession& TMain::GangSession(int index) { return *gang_.at(static_cast<size_t>(index))->Session; }

void TMain::SetGangPorts(const QStringList& ports)
{
    // Calls the old boxes queued reach them before they go.
    ui_.Drain();
    gang_.clear();
    gangPorts_ = ports;
    for (int row = 0; row < ports.size(); ++row) {
        auto slot = std::make_unique<TGangSlot>();
        TGangSlot* raw = slot.get();
        slot->Port = ports[row].toStdString();
        slot->View = std::make_unique<TGangSlotView>(
            ui_, [raw](TStatusKind, const QString& text) { raw->Status = text; },
            [this, row](int position, int maximum) { gangPage_->SetProgress(row, position, maximum); });
        // No settings of its own: the window hands each run what it needs.
        slot->Session = std::make_unique<TAppSession>(*slot->View, nullptr);
        slot->Session->SetHardwareTable(session_->Hardware());
        if (gangLinkSetup_) {
            gangLinkSetup_(*slot->Session, slot->Port);
        } else {
            UseQtSerialPort(*slot->Session);
            UseQtWorkerThread(*slot->Session);
        }
        slot->Session->LinkContext().SetSerialPortName(slot->Port);
        gang_.push_back(std::move(slot));
    }
    gangPage_->SetPorts(ports);
    const int tab = pages_->indexOf(gangPage_);
    if (ports.isEmpty() && tab >= 0) pages_->removeTab(tab);
    if (!ports.isEmpty() && tab < 0) pages_->addTab(gangPage_, QStringLiteral("Gang"));
    // Kept beside the Auto Program choices, and saved with a project as they are.
    session_->Settings().Put(kGangSection, "PORTS", kGlobalGroup, ports.join(QLatin1Char('\n')).toStdString());
    UpdateActions();
}

void TMain::RestoreGang()
{
    const QString stored = QString::fromStdString(session_->Settings().Get(kGangSection, "PORTS", std::string()).AsString());
    const QStringList ports = stored.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (ports != gangPorts_) SetGangPorts(ports);
}

void TMain::GangClick()
{
    QList<QPair<QString, QString>> available;
    for (const TSerialPortIdentity& p : ListSerialPortIdentities())
        available.append({QString::fromStdString(DescribeSerialPort(p)), QString::fromStdString(p.Device)});
    TGangDialog dialog(gangPorts_, available, this);
    if (RunDialog(dialog) != QDialog::Accepted) return;
    SetGangPorts(dialog.Ports());
    if (!gangPorts_.isEmpty()) pages_->setCurrentWidget(gangPage_);
}

void TMain::RunGang()
{
    if (gang_.empty() || BusyState() != TBusy::Idle) return;
    // What every box programs: the window's device, image, option byte and steps. The window's
    // session is idle while the gang runs, so it is read here, once.
    const TDevice* device = session_->Device();
    const std::string deviceName = device ? device->Name() : std::string();
    const THexList image = session_->Project().Flash;
    const uint8_t options = session_->Options().GetOptions();
    const int clockRow = session_->Options().PGMTIM();
    TAutoProgramSteps steps;
    steps.Load(session_->Settings());
    const TSerialNum serial = session_->Serial();
    const bool numbered = serial.rgSerialNumMode == TSerialNum::smStoreInFlash && steps.Checked(TAutoProgramSteps::stIncrementSerial);
    // With a production store every box records its boards there, and with a store pool takes its
    // numbers from it; the store is reached, and the pool read, before any box starts.
    const std::string storePool = serial.rgSerialNumMode == TSerialNum::smStoreInFlash ? serial.Pool : std::string();
    if (!steps.Database().empty()) {
        bool reached = false;
        // On the window's worker: a server slow to answer never freezes the window.
        Command([&] {
            try {
                OpenStore(steps.Database());
                for (auto& slot : gang_) {
                    TStoreStation::TIdentity id;
                    id.Port = slot->Port;
                    id.Box = kHardwareCom;
                    slot->Station = std::make_unique<TStoreStation>(*store_, id, storePool);
                    slot->Session->Serial().rgSerialNumMode = serial.rgSerialNumMode;
                    // The pool's location is checked against the image the box will program.
                    slot->Session->Project().Flash = image;
                    slot->Station->PreparePool(*slot->Session);
                }
                reached = true;
            } catch (const std::exception& e) {
                for (auto& slot : gang_) slot->Station.reset();
                session_->Runner().FailOp(std::string("Gang: ") + e.what());
            }
        });
        if (!reached) return;
    }
    const bool fromStore = !steps.Database().empty() && !storePool.empty();
    // Else one pool of numbers for all boxes: each board takes the lowest free one, a failed board
    // gives its number back.
    std::shared_ptr<TSerialPool> pool;
    if (numbered && !fromStore) {
        gangPoolDir_ = std::make_unique<QTemporaryDir>();
        pool = std::make_shared<TSerialPool>((gangPoolDir_->path() + QStringLiteral("/serials")).toStdString(),
                                             static_cast<uint32_t>(serial.heCurrentSerial));
    }

    // A box of the gang on the window's own port: a port opens once, so the window lets go of it
    // for the run and the box after it; whichever uses the port next connects again.
    if (MarkGangOnWindowsPort())
        Command([this] { session_->LetGoOfPort(); });

    int pending = static_cast<int>(gang_.size());
    QEventLoop loop;
    QElapsedTimer took;
    took.start();
    for (size_t i = 0; i < gang_.size(); ++i) {
        TGangSlot& slot = *gang_[i];
        TAppSession& s = *slot.Session;
        const int row = static_cast<int>(i);
        slot.Done = false;
        gangPage_->SetRow(row, QStringLiteral("Programming..."), QString(), QString(), true);
        gangPage_->SetProgress(row, 0, 1);
        for (int step = 0; step < TAutoProgramSteps::kCount; ++step)
            s.Settings().Put(TAutoProgramSteps::kSection, std::to_string(step), kGlobalGroup, steps.Checked(step));
        s.Serial().rgSerialNumMode = serial.rgSerialNumMode;
        if (!fromStore) {
            s.Serial().rgSerialNumSize = serial.rgSerialNumSize;
            s.Serial().heSerialLocation = serial.heSerialLocation;
        }
        if (slot.Station)
            // The station takes the box's BeforeDeviceSteps when it hands out the store's numbers.
            slot.Stored = slot.Station->Attach(s, [&s](const std::string& why) { s.Runner().FailOp(why); });
        if (pool)
            slot.Numbering = NumberBoards(s, pool);
        else if (!fromStore)
            s.AutoProgram().BeforeDeviceSteps = nullptr;
        slot.Board = s.AutoProgram().OnBoardDone.Subscribe([this, &slot, row](const TAutoProgram::TBoard& board) {
            const QString serialText = board.Ok ? QString::fromStdString(board.SerialPlaced) : QString();
            const QString result = board.Ok ? QStringLiteral("Passed") : QString::fromStdString(board.Failure);
            const bool ok = board.Ok;
            ui_.Post([this, &slot, row, serialText, result, ok] {
                slot.Ok = ok;
                slot.Result = result;
                slot.Serial = serialText;
                slot.Time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
                gangPage_->SetRow(row, result, serialText, slot.Time, ok);
                gangPage_->SetProgress(row, ok ? 1 : 0, 1);
            });
        });
        s.Start(
            [&s, deviceName, image, options, clockRow, release = slot.WindowsPort] {
                struct TLetGo {
                    TAppSession& session;
                    bool release;
                    ~TLetGo()
                    {
                        if (release) session.LetGoOfPort();
                    }
                } letGo{s, release};
                const TDevice* current = s.Device();
                if (!s.Programmer() || !current || current->Name() != deviceName) {
                    s.SwitchDevice(deviceName, kHardwareCom, false);
                    s.Runner().EndOp("");
                }
                {
                    THexList::TBulkChange bulk(s.Project().Flash);
                    s.Project().Flash = image;
                }
                s.Options().SelectPGMTIM(clockRow);
                s.Options().PGMTIMChange();
                s.Options().SetOptions(options);
                commands::CopyOptionByte(s.Commands());
                s.AutoProgram().AutoProgramExecute();
            },
            [this, &slot, &pending, &loop](TOutcome outcome) {
                ui_.Post([&slot, &pending, &loop, outcome] {
                    slot.Done = true;
                    if (outcome != TOutcome::Completed && slot.Result.isEmpty()) slot.Result = slot.Status;
                    if (--pending == 0) loop.quit();
                });
            });
    }
    session_->Runner().StartOp("Gang: Auto Programming " + std::to_string(gang_.size()) + (gang_.size() == 1 ? " box" : " boxes"));
    BeginBusy();
    while (pending > 0) loop.exec();
    EndBusy();

    int passed = 0;
    QStringList failed;
    for (const auto& slot : gang_) {
        if (slot->Ok)
            ++passed;
        else
            failed << QString::fromStdString(slot->Port) + QStringLiteral(": ") + slot->Result;
    }
    QString summary = QStringLiteral("Gang: %1 %2, %3 passed, %4 failed in %5 s")
                          .arg(gang_.size())
                          .arg(gang_.size() == 1 ? QStringLiteral("box") : QStringLiteral("boxes"))
                          .arg(passed)
                          .arg(failed.size())
                          .arg(static_cast<double>(took.elapsed()) / 1000.0, 0, 'f', 1);
    if (!failed.isEmpty()) summary += QStringLiteral(" (") + failed.join(QStringLiteral("; ")) + QStringLiteral(")");
    if (pool) {
        // The window's next number is the pool's: no number is handed out twice.
        const TSerialPool::TState state = pool->Read();
        uint64_t next = state.Next;
        for (uint64_t freed : state.Free) next = std::min(next, freed);
        session_->Serial().heCurrentSerial = next;
        summary += QStringLiteral("; next serial number %1").arg(next);
    }
    if (failed.isEmpty())
        session_->Runner().EndOp(summary.toStdString());
    else
        session_->Runner().FailOp(summary.toStdString());
    for (auto& slot : gang_) {
        slot->Board.Reset();
        slot->Numbering.Reset();
        slot->Stored.Reset();
        slot->Station.reset();
    }
    UpdateActions();
}
