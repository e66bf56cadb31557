#include "app/storestation.h"

#include "app/session.h"
#include "base/hextext.h"
#include "base/isperrors.h"
#include "devices/devices.h"
#include "image/checksum.h"
#include "image/hexlist.h"
#include "image/serialnum.h"

TStoreStation::TStoreStation(IProductionStore& store, TIdentity identity, std::string pool)
    : store_(store), identity_(std::move(identity)), poolName_(std::move(pool))
{
}

void TStoreStation::PreparePool(TAppSession& session)
{
    if (poolName_.empty()) return;
    pool_ = store_.FindPool(poolName_);
    if (!pool_) throw EStoreError("No serial-number pool \"" + poolName_ + "\" in " + store_.Describe());
    TSerialNum& serial = session.Serial();
    serial.rgSerialNumMode = TSerialNum::smStoreInFlash;
    serial.rgSerialNumSize = pool_->SizeBytes - 2;
    serial.heSerialLocation = pool_->Location;
    serial.heCurrentSerial = pool_->Next;
    if (const std::string problem = serial.LocationProblem(session.Project().Flash); !problem.empty())
        throw EISPException("Serial-number pool \"" + poolName_ + "\": location " + hex::Hex(pool_->Location, 4) +
                            "h is not valid for this image: " + problem);
    store_.SpoilAbandoned(poolName_, identity_.Station, identity_.Port);
}

TSubscription TStoreStation::Attach(TAppSession& session, std::function<void(const std::string&)> onLost)
{
    TAppSession* s = &session;
    IProductionStore* store = &store_;
    const std::shared_ptr<TState> state = state_;
    const std::string pool = poolName_;
    const TIdentity id = identity_;
    if (!pool.empty())
        session.AutoProgram().BeforeDeviceSteps = [s, store, state, pool, id] {
            // The number is the board's from here on, whatever happens to the run.
            const uint64_t number = store->Reserve(pool, id.Station, id.Port);
            state->Reserved = number;
            TSerialNum& serial = s->Serial();
            serial.heCurrentSerial = number;
            if (const std::string refusal = serial.RefusalLine(s->Project().Flash); !refusal.empty())
                throw EISPException(refusal);
            THexList::TBulkChange bulk(s->Project().Flash);
            serial.PlaceSerial(s->Project().Flash);
        };
    TSubscription done = session.AutoProgram().OnBoardDone.Subscribe([s, store, state, pool, id, onLost](
                                                                       const TAutoProgram::TBoard& board) {
        TStoredBoard r;
        r.TimeUtc = UtcNow();
        r.Station = id.Station;
        r.Operator = id.Operator;
        r.Box = id.Box;
        r.Port = id.Port;
        r.Device = s->Device() ? s->Device()->Name() : std::string();
        const THexList& image = s->Project().Flash;
        r.Image = image.FileName();
        r.ImageSize = image.Size();
        r.ImageCrc32 = board.ImageCrc32.empty() ? DigestText(ChecksumByName("CRC-32")->Compute(image.Values()))
                                                : board.ImageCrc32;
        r.OptionByte = image.Size() > 0 ? image.GetValue(image.Size() - 1) : -1;
        r.Pool = pool;
        r.Serial = board.SerialPlaced;
        if (!r.Serial.empty()) r.SerialNumber = static_cast<int64_t>(std::stoull(r.Serial, nullptr, 16));
        r.Steps = board.Steps;
        r.Result = board.Ok ? "ok" : board.VerifyFailed ? "verify failed" : "failed";
        r.Failure = board.Failure;
        r.DurationMs = board.DurationMs;
        const std::optional<uint64_t> number = state->Reserved;
        state->Reserved.reset();
        const TSerialFate fate =
            board.Ok ? TSerialFate::Committed : board.FlashWritten ? TSerialFate::Spoiled : TSerialFate::Released;
        try {
            store->FinishBoard(r, number, fate);
        } catch (const std::exception& e) {
            if (onLost) onLost(e.what());
        }
    });
    if (pool.empty()) return done;
    auto shared = std::make_shared<TSubscription>(std::move(done));
    return TSubscription([s, shared] {
        s->AutoProgram().BeforeDeviceSteps = nullptr;
        shared->Reset();
    });
}
