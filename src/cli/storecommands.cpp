// The production store's commands: the boards' records and their daily summary, and the
// serial-number pools. None of them touches a box.
#include <cstdio>
#include <cstdlib>

#include "app/autoprogram.h"
#include "app/productionrecord.h"
#include "cli.h"
#include "store/productionstore.h"

std::string StoreLocation(TCliContext& c, bool orDefault)
{
    if (!c.Options().db.empty()) return c.Options().db;
    if (const char* env = std::getenv("ZEMPRIX_DB"); env && *env) return env;
    const std::string configured =
        c.Settings().Backend() ? c.Settings().Get(TAutoProgramSteps::kRecordSection, "DATABASE", std::string()).AsString()
                               : std::string();
    if (!configured.empty()) return configured;
    return orDefault ? DefaultStorePath() : std::string();
}

namespace {

// The store or, when it cannot be opened, its reason as the command's failure line.
std::unique_ptr<IProductionStore> OpenStore(TCliContext& c)
{
    try {
        return OpenProductionStore(StoreLocation(c, true));
    } catch (const EStoreError& e) {
        c.Runner().FailOp(e.what());
        c.Result().Set("error", e.what());
        return nullptr;
    }
}

TRecordFilter FilterOf(const TCliOptions& o)
{
    TRecordFilter f;
    f.Since = o.since;
    f.Until = o.until;
    f.Station = o.station;
    f.SerialNumber = o.recordSerial;
    return f;
}

std::string Padded(std::string text, size_t width)
{
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

std::string Yield(const TDaySummary& d)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", d.YieldPercent());
    return text;
}

int Summary(TCliContext& c, IProductionStore& store)
{
    const auto rows = store.Summary(FilterOf(c.Options()));
    std::vector<std::string> json;
    if (c.Options().csv) c.Data("day,station,boards,passed,failed,yield_percent");
    else if (!c.Options().json) c.Data("day         station             boards  passed  failed  yield %");
    for (const TDaySummary& d : rows) {
        if (c.Options().csv)
            c.Data(d.Day + "," + TProductionRecord::CsvField(d.Station) + "," + std::to_string(d.Boards) + "," +
                   std::to_string(d.Passed) + "," + std::to_string(d.Failed) + "," + Yield(d));
        else
            c.Data(Padded(d.Day, 12) + Padded(d.Station, 20) + Padded(std::to_string(d.Boards), 8) +
                   Padded(std::to_string(d.Passed), 8) + Padded(std::to_string(d.Failed), 8) + Yield(d));
        TJsonObject row;
        row.Set("day", d.Day);
        row.Set("station", d.Station);
        row.Set("boards", d.Boards);
        row.Set("passed", d.Passed);
        row.Set("failed", d.Failed);
        row.SetRaw("yieldPercent", Yield(d));
        json.push_back(row.Text());
    }
    c.Result().SetRaw("summary", JsonArray(json));
    return kExitOk;
}

int Records(TCliContext& c)
{
    const auto& a = c.Options().args;
    if (!a.empty() && a[0] != "summary") throw TUsageError{"records takes nothing or summary, not \"" + a[0] + "\""};
    auto store = OpenStore(c);
    if (!store) return kExitFailed;
    try {
        if (!a.empty()) return Summary(c, *store);
        const auto rows = store->Records(FilterOf(c.Options()));
        std::vector<std::string> json;
        if (c.Options().csv)
            c.Data("id,time_utc,station,operator,box,port,device,image,image_size,crc32,option_byte,pool,serial,steps,"
                   "result,failure,duration_ms");
        else if (!c.Options().json)
            c.Data("time                  station         port            device    serial    result        failure");
        for (const TStoredBoard& b : rows) {
            const std::string option = b.OptionByte < 0 ? "" : [&] {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%02X", b.OptionByte);
                return std::string(hex);
            }();
            if (c.Options().csv) {
                std::string line;
                for (const std::string& f : {std::to_string(b.Id), b.TimeUtc, b.Station, b.Operator, b.Box, b.Port,
                                             b.Device, b.Image, std::to_string(b.ImageSize), b.ImageCrc32, option,
                                             b.Pool, b.Serial, b.Steps, b.Result, b.Failure, std::to_string(b.DurationMs)})
                    line += (line.empty() ? "" : ",") + TProductionRecord::CsvField(f);
                // The first field never starts a line with a guard quote: ids are digits.
                c.Data(line);
            } else if (!c.Options().json) {
                c.Data(b.TimeUtc + "  " + Padded(b.Station, 16) + Padded(b.Port, 16) + Padded(b.Device, 10) +
                       Padded(b.Serial.empty() ? "-" : b.Serial, 10) + Padded(b.Result, 14) + b.Failure);
            }
            TJsonObject row;
            row.Set("id", b.Id);
            row.Set("time", b.TimeUtc);
            row.Set("station", b.Station);
            row.Set("operator", b.Operator);
            row.Set("box", b.Box);
            row.Set("port", b.Port);
            row.Set("device", b.Device);
            row.Set("image", b.Image);
            row.Set("imageSize", b.ImageSize);
            row.Set("crc32", b.ImageCrc32);
            row.Set("optionByte", option);
            row.Set("pool", b.Pool);
            row.Set("serial", b.Serial);
            row.Set("steps", b.Steps);
            row.Set("result", b.Result);
            row.Set("failure", b.Failure);
            row.Set("durationMs", b.DurationMs);
            json.push_back(row.Text());
        }
        c.Result().SetRaw("records", JsonArray(json));
    } catch (const EStoreError& e) {
        c.Runner().FailOp(e.what());
        c.Result().Set("error", e.what());
        return kExitFailed;
    }
    return kExitOk;
}

std::string PoolLine(const TSerialPoolRow& p)
{
    char location[16];
    std::snprintf(location, sizeof location, "%04X", p.Location);
    return p.Name + ": start " + std::to_string(p.Start) + ", " + std::to_string(p.SizeBytes) + " bytes at " + location +
           "h, step " + std::to_string(p.Step) + ", next " + std::to_string(p.Next) + "; committed " +
           std::to_string(p.Committed) + ", reserved " + std::to_string(p.Reserved) + ", released " +
           std::to_string(p.Released) + ", spoiled " + std::to_string(p.Spoiled);
}

TJsonObject PoolJson(const TSerialPoolRow& p)
{
    TJsonObject o;
    o.Set("name", p.Name);
    o.Set("start", static_cast<int64_t>(p.Start));
    o.Set("size", p.SizeBytes);
    o.Set("location", static_cast<int64_t>(p.Location));
    o.Set("step", static_cast<int64_t>(p.Step));
    o.Set("next", static_cast<int64_t>(p.Next));
    o.Set("committed", static_cast<int64_t>(p.Committed));
    o.Set("reserved", static_cast<int64_t>(p.Reserved));
    o.Set("released", static_cast<int64_t>(p.Released));
    o.Set("spoiled", static_cast<int64_t>(p.Spoiled));
    return o;
}

int Pool(TCliContext& c)
{
    const TCliOptions& o = c.Options();
    const auto& a = o.args;
    const std::string& what = a[0];
    if (what != "list" && what != "create" && what != "show")
        throw TUsageError{"pool takes list, create NAME --start N --size BYTES --at ADDR [--step N] or show NAME"};
    if ((what == "list") != (a.size() == 1)) throw TUsageError{"pool " + what + (what == "list" ? " takes no name" : " takes NAME")};
    if (what == "create" && (o.poolStart < 0 || o.poolAt < 0))
        throw TUsageError{"pool create needs --start N and --at ADDR (and --size BYTES, 2 by default)"};
    if (what != "create" && (o.poolStart >= 0 || o.poolAt >= 0))
        throw TUsageError{"--start and --at belong to pool create"};
    auto store = OpenStore(c);
    if (!store) return kExitFailed;
    try {
        if (what == "list") {
            std::vector<std::string> json;
            for (const TSerialPoolRow& p : store->Pools()) {
                c.Data(PoolLine(p));
                json.push_back(PoolJson(p).Text());
            }
            c.Result().SetRaw("pools", JsonArray(json));
            return kExitOk;
        }
        if (what == "create") {
            TSerialPoolRow p;
            p.Name = a[1];
            p.Start = static_cast<uint64_t>(o.poolStart);
            p.SizeBytes = o.poolSize;
            p.Location = static_cast<uint32_t>(o.poolAt);
            p.Step = static_cast<uint64_t>(o.poolStep);
            store->CreatePool(p);
            c.View().AppendLog("Serial-number pool created: " + p.Name + " in " + store->Describe());
        }
        const auto pool = store->FindPool(a[1]);
        if (!pool) {
            const std::string why = "No serial-number pool \"" + a[1] + "\" in " + store->Describe();
            c.Runner().FailOp(why);
            c.Result().Set("error", why);
            return kExitFailed;
        }
        c.Data(PoolLine(*pool));
        c.Result().Set("pool", PoolJson(*pool));
    } catch (const EStoreError& e) {
        c.Runner().FailOp(e.what());
        c.Result().Set("error", e.what());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

// Read and write the store only: they run on defaults when the settings cannot be read.
const TCliCommand kStoreCommands[2] = {
    {"records", "[summary]",
     "the production store's board records; summary: boards, passed, failed, yield per day and station",
     1, Records, false, 1},
    {"pool", "list | create NAME | show NAME", "the production store's serial-number pools",
     2, Pool, false, 1},
};
