#pragma once
// A station of the production line: ties a session's Auto Program to the production store. Every
// board the session finishes gets its record in the store; with a pool, every board gets its
// serial number reserved from the pool just before its device steps, and the number is settled
// with the record: committed when the board passed, released when it failed before its Flash was
// written, spoiled when it failed after (the number may sit in that device).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/observers.h"
#include "store/productionstore.h"

class TAppSession;

class TStoreStation {
public:
    struct TIdentity {
        std::string Station = StationName();
        std::string Operator = OperatorName();
        std::string Port;  // the box's port; with the station it names the box's reservations
        std::string Box;   // what the box is, for the record
    };

    TStoreStation(IProductionStore& store, TIdentity identity, std::string pool = {});

    // With a pool: reads it, sets the session's numbering to its size and location, and spoils the
    // numbers this box reserved in a run that never finished. Raises EStoreError (no such pool,
    // no server) before any board is touched, and EISPException for a location the image refuses.
    void PreparePool(TAppSession& session);

    // Listens to the session's boards (and takes its BeforeDeviceSteps with a pool) while the
    // subscription is held. A record that cannot be written goes to `onLost`.
    [[nodiscard]] TSubscription Attach(TAppSession& session, std::function<void(const std::string&)> onLost);

    // The number reserved for the board in progress, if any.
    std::optional<uint64_t> Reserved() const { return state_->Reserved; }
    const std::optional<TSerialPoolRow>& Pool() const { return pool_; }

private:
    struct TState {
        std::optional<uint64_t> Reserved;
    };
    IProductionStore& store_;
    TIdentity identity_;
    std::string poolName_;
    std::optional<TSerialPoolRow> pool_;
    std::shared_ptr<TState> state_ = std::make_shared<TState>();
};
