#include "app/projects.h"

#include "app/commands.h"
#include "app/session.h"
#include "base/isperrors.h"
#include "image/hexfile.h"
#include "store/settings.h"
#include "link/programmer.h"

namespace projects {

namespace {

std::string KeyOf(const std::string& name) { return std::string(TISPSettings::kProjectsKey) + "\\" + name; }

void RequireValid(const std::string& name)
{
    if (!ValidName(name)) throw EISPException("Invalid project name \"" + name + "\"");
}

}  // namespace

bool ValidName(const std::string& name)
{
    if (name.empty()) return false;
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
    return true;
}

std::vector<std::string> Names(TAppSession& session)
{
    ISettingsBackend* backend = session.Settings().Backend();
    return backend ? backend->SubKeys(TISPSettings::kProjectsKey) : std::vector<std::string>{};
}

void Delete(TAppSession& session, const std::string& name)
{
    RequireValid(name);
    if (ISettingsBackend* backend = session.Settings().Backend()) backend->DeleteKey(KeyOf(name));
}

void StoreProject(TAppSession& session, const std::string& name)
{
    RequireValid(name);
    TISPSettings& store = session.Settings();
    TISPProgrammer* p = session.Programmer();
    if (p) p->SaveSettings();
    store.Put("CONFIG", "DEVICE", kProjectGroup, session.Device() ? session.Device()->Name() : std::string());
    store.Put("CONFIG", "HARDWARE", kProjectGroup, p ? p->HardwareName() : std::string());
    store.Put("ENVIRONMENT", "LASTPROJECT", kGlobalGroup, name);
    const std::string& file = session.Project().Flash.FileName();
    if (!file.empty()) store.Put("CONFIG", "FLASHFILE", kProjectGroup, file);
    // The Auto Program choices now belong to the project.
    store.MoveSection("AUTOPROGRAM", kProjectGroup);
    // The window's gang (its ports) belongs to the project as the steps do.
    store.MoveSection("GANG", kProjectGroup);
    store.Put("CONFIG", "OPTIONS", kProjectGroup, static_cast<int>(session.Options().GetOptions()));
    store.Save(KeyOf(name), kProjectGroup);
}

void RestoreProject(TAppSession& session, const std::string& name,
                    const std::function<void(const std::string&)>& showError, bool connect)
{
    RequireValid(name);
    TISPSettings& store = session.Settings();
    TOperationRunner& runner = session.Runner();
    runner.StartOp("Loading Project");
    store.DeleteSection(kGlobalGroup, "AUTOPROGRAM");
    store.DeleteSection(kGlobalGroup, "GANG");
    store.Load(KeyOf(name), kProjectGroup);
    store.MoveSection("AUTOPROGRAM", kGlobalGroup);
    store.MoveSection("GANG", kGlobalGroup);

    const int64_t option = store.Get("CONFIG", "OPTIONS", 6).AsInteger(6);
    session.Options().SetOptions(static_cast<uint8_t>(option >= 0 && option <= 0xFF ? option : 6));
    session.View().ShowOptionsPage();
    commands::CopyOptionByte(session.Commands());

    const std::string device = store.Get("CONFIG", "DEVICE", std::string()).AsString();
    const std::string hardware = store.Get("CONFIG", "HARDWARE", std::string()).AsString();
    if (connect)
        session.SwitchDevice(device, hardware);
    else
        session.BindDevice(device, hardware);

    const std::string file = store.Get("CONFIG", "FLASHFILE", std::string()).AsString();
    if (!file.empty() && session.Device() && session.Device()->FlashSize() != 0) {
        int format = 0;
        try {
            format = TFileLoader::DetectFormat(file);
        } catch (const std::exception&) {
            format = 0;
        }
        if (format <= 0) {
            if (showError) showError("Flash: Could not open " + file);
        } else {
            session.View().ShowFileName(std::string());
            TChecksumReport checksums;
            try {
                THexList::TBulkChange bulk(session.Project().Flash);
                (void)TFileLoader::LoadFile(file, session.Project().Flash, &checksums);
                if (checksums.Wrong > 0 && session.Commands().StrictChecksums) session.Project().Flash.Clear();
            } catch (const EISPException&) {
                // the load result is not reported here
            } catch (const EFileLoader&) {
            }
            // A suspect file is flagged as a direct load flags it, or refused when asked to be.
            if (checksums.Wrong > 0 && session.Commands().StrictChecksums) {
                if (showError) showError("Flash: Could not open " + file + " (strict checksums: " + checksums.Text() + ")");
            } else if (checksums.Wrong > 0) {
                runner.AppendLog("Flash File Load - Warning: " + checksums.Text());
            }
        }
    }
    if (TISPProgrammer* p = session.Programmer()) {
        p->LoadSettings();
        session.View().ShowFlashPage();
        session.View().PumpMessages();
        if (connect) p->Connect();
    }
    runner.EndOp("ISP Initialized; Detected Device");
    runner.EndOp("Project Load Complete");
    session.View().ShowFileName(session.Project().Flash.FileName());
}

}  // namespace projects
