// Commands that need no programmer: the device list, checksums of a file's image and
// conversion between hex formats.
#include "cli.h"
#include "devices/devices.h"
#include "image/checksum.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "link/hardware.h"

namespace {

int Devices(TCliContext& c)
{
    std::vector<std::string> rows;
    for (const std::string& name : DeviceList().NamesForHardware(HardwareDeviceSet(c.HardwareIndex()))) {
        const TDevice* d = DeviceList().FindDevice(name, HardwareDeviceSet(c.HardwareIndex()));
        c.Data(name);
        TJsonObject row;
        row.Set("name", name);
        row.Set("flashSize", d->FlashSize());
        row.Set("pageSize", d->PageSize());
        rows.push_back(row.Text());
    }
    c.Result().SetRaw("devices", JsonArray(rows));
    return kExitOk;
}

int Checksums(TCliContext& c)
{
    if (!c.LoadFlashFile(c.Options().args[0])) return kExitFailed;
    const THexList& image = c.Image();
    TJsonObject sums;
    for (const std::string& name : ChecksumNames()) {
        const std::string text = DigestText(ChecksumByName(name)->Compute(image.Values()));
        c.Data(name + ": " + text);
        sums.Set(name, text);
    }
    c.Result().Set("checksums", sums);
    return kExitOk;
}

int Convert(TCliContext& c)
{
    if (!c.LoadFlashFile(c.Options().args[0])) return kExitFailed;
    c.Result().Set("output", c.Options().args[1]);
    c.Result().Set("outputFormat", TFileLoader::FormatName(c.Options().format));
    return c.SaveFlashFile(c.Options().args[1]) ? kExitOk : kExitFailed;
}

}  // namespace

// None of these talks to the box: they run on defaults when the settings cannot be read.
const TCliCommand kFileCommands[3] = {
    {"devices", "", "list the devices the hardware can program", 0, Devices, false, 0},
    {"checksums", "FILE", "load FILE into the device image and print its five checksums", 1, Checksums, false, 0},
    {"convert", "IN OUT", "load IN into the device image and write it to OUT in --format", 2, Convert, false, 0},
};
