// One contract for the production store, run against SQLite and against a real PostgreSQL server:
// schema creation and upgrade, pools, reservations and their fates, board records and queries.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <set>
#include <thread>

#include "store/productionstore.h"
#include "store_support.h"

namespace {

class StoreContract : public ::testing::TestWithParam<TEngine> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp_.isValid());
        if (GetParam() == TEngine::Postgres) {
            ASSERT_FALSE(PgState().empty()) << "ZEMPRIX_TEST_PG_STATE is not set: run the tests through ctest";
        }
        location_ = NewStore(GetParam(), tmp_, "c");
        ASSERT_FALSE(location_.empty());
    }
    std::unique_ptr<IProductionStore> Open(int version = IProductionStore::kSchemaVersion)
    {
        return OpenProductionStore(location_, version);
    }
    static TSerialPoolRow Pool(const std::string& name, uint64_t start, int size = 2, uint64_t step = 1)
    {
        TSerialPoolRow p;
        p.Name = name;
        p.Start = start;
        p.SizeBytes = size;
        p.Location = 0x7F00;
        p.Step = step;
        return p;
    }
    static TStoredBoard Board(const std::string& station, const std::string& result, int64_t serial = -1,
                              const std::string& time = "")
    {
        TStoredBoard b;
        b.TimeUtc = time;
        b.Station = station;
        b.Operator = "op";
        b.Box = "ZEMPRIX (COM) 2.1";
        b.Port = "/dev/ttyUSB0";
        b.Device = "COP8SBR9";
        b.Image = "/tmp/in.hex";
        b.ImageSize = 32768;
        b.ImageCrc32 = "1A2B3C4D";
        b.OptionByte = 6;
        b.Serial = serial < 0 ? "" : std::to_string(serial);
        b.SerialNumber = serial;
        b.Steps = "erase+program+verify+serial";
        b.Result = result;
        b.Failure = result == "ok" ? "" : "Verify Failed at 0200h";
        b.DurationMs = 1234;
        return b;
    }

    QTemporaryDir tmp_;
    std::string location_;
};

TEST_P(StoreContract, CreatesItsSchemaOnceAndReopensIt)
{
    {
        auto store = Open();
        EXPECT_EQ(store->SchemaVersion(), IProductionStore::kSchemaVersion);
        store->CreatePool(Pool("line1", 100));
    }
    auto again = Open();
    EXPECT_EQ(again->SchemaVersion(), IProductionStore::kSchemaVersion);
    ASSERT_EQ(again->Pools().size(), 1u);
}

TEST_P(StoreContract, PoolsAreCreatedOnceWithTheirFieldsAndRefuseWhatMakesNoPool)
{
    auto store = Open();
    store->CreatePool(Pool("b", 0x1000, 3, 2));
    store->CreatePool(Pool("a", 5));
    const auto pools = store->Pools();
    ASSERT_EQ(pools.size(), 2u);
    EXPECT_EQ(pools[0].Name, "a");
    EXPECT_EQ(pools[1].Start, 0x1000u);
    EXPECT_EQ(pools[1].SizeBytes, 3);
    EXPECT_EQ(pools[1].Step, 2u);
    EXPECT_EQ(pools[1].Location, 0x7F00u);
    EXPECT_EQ(pools[1].Next, 0x1000u);
    EXPECT_FALSE(store->FindPool("c").has_value());
    EXPECT_NE(ErrorOf([&] { store->CreatePool(Pool("a", 9)); }).find("already exists"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { store->CreatePool(Pool("big", 0x10000, 2)); }).find("does not fit in 2 bytes"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { store->CreatePool(Pool("", 1)); }), "(no exception)");
    EXPECT_NE(ErrorOf([&] { store->CreatePool(Pool("z", 1, 5)); }), "(no exception)");
    EXPECT_NE(ErrorOf([&] { store->CreatePool(Pool("z", 1, 2, 0)); }), "(no exception)");
    // A name that looks like SQL is only a name.
    store->CreatePool(Pool("x'); DROP TABLE boards; --", 1));
    EXPECT_TRUE(store->FindPool("x'); DROP TABLE boards; --").has_value());
    store->FinishBoard(Board("s", "ok"), std::nullopt, TSerialFate::Committed);
    EXPECT_EQ(store->Records({}).size(), 1u);
}

TEST_P(StoreContract, NumbersAreReservedInStepsAndEachFateIsKept)
{
    auto store = Open();
    store->CreatePool(Pool("p", 10, 2, 5));
    const uint64_t a = store->Reserve("p", "st1", "box1");
    const uint64_t b = store->Reserve("p", "st1", "box2");
    const uint64_t c = store->Reserve("p", "st2", "box1");
    EXPECT_EQ((std::vector<uint64_t>{a, b, c}), (std::vector<uint64_t>{10, 15, 20}));
    TStoredBoard board = Board("st1", "ok", 10);
    board.Pool = "p";
    store->FinishBoard(board, a, TSerialFate::Committed);
    board.Result = "failed";
    store->FinishBoard(board, b, TSerialFate::Released);
    store->FinishBoard(board, c, TSerialFate::Spoiled);
    EXPECT_EQ(store->Numbers("p", "committed"), (std::vector<uint64_t>{10}));
    EXPECT_EQ(store->Numbers("p", "released"), (std::vector<uint64_t>{15}));
    EXPECT_EQ(store->Numbers("p", "spoiled"), (std::vector<uint64_t>{20}));
    // A released number goes to the next board before any new one; a spoiled one never again.
    EXPECT_EQ(store->Reserve("p", "st3", "box"), 15u);
    EXPECT_EQ(store->Reserve("p", "st3", "box"), 25u);
    const auto pool = store->FindPool("p");
    ASSERT_TRUE(pool.has_value());
    EXPECT_EQ(pool->Next, 30u);
    EXPECT_EQ(pool->Reserved, 2u);
    EXPECT_EQ(pool->Committed, 1u);
    EXPECT_EQ(pool->Released, 0u);
    EXPECT_EQ(pool->Spoiled, 1u);
    EXPECT_NE(ErrorOf([&] { store->Reserve("nope", "s", "b"); }).find("No serial-number pool \"nope\""),
              std::string::npos);
}

TEST_P(StoreContract, ANumberPastThePoolsSizeIsRefusedAndNothingIsReserved)
{
    auto store = Open();
    store->CreatePool(Pool("small", 0xFFFE, 2));
    EXPECT_EQ(store->Reserve("small", "s", "b"), 0xFFFEu);
    const uint64_t last = store->Reserve("small", "s", "b");
    EXPECT_EQ(last, 0xFFFFu);
    const std::string refusal = ErrorOf([&] { store->Reserve("small", "s", "b"); });
    EXPECT_NE(refusal.find("does not fit in the chosen size"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("10000h"), std::string::npos) << refusal;
    EXPECT_EQ(store->FindPool("small")->Reserved, 2u);
    EXPECT_EQ(store->FindPool("small")->Next, 0x10000u);
    // A number given back still fits and is handed out again.
    TStoredBoard board = Board("s", "failed");
    board.Pool = "small";
    store->FinishBoard(board, last, TSerialFate::Released);
    EXPECT_EQ(store->Reserve("small", "s", "b"), 0xFFFFu);
}

TEST_P(StoreContract, AStationsAbandonedReservationsAreSpoiledAndNoOneElses)
{
    auto store = Open();
    store->CreatePool(Pool("p", 1));
    store->Reserve("p", "st1", "/dev/ttyUSB0");
    store->Reserve("p", "st1", "/dev/ttyUSB1");
    store->Reserve("p", "st2", "/dev/ttyUSB0");
    EXPECT_EQ(store->SpoilAbandoned("p", "st1", "/dev/ttyUSB0"), 1u);
    EXPECT_EQ(store->Numbers("p", "spoiled"), (std::vector<uint64_t>{1}));
    EXPECT_EQ(store->Numbers("p", "reserved"), (std::vector<uint64_t>{2, 3}));
    // Its late finish cannot bring a spoiled number back.
    TStoredBoard board = Board("st1", "ok", 1);
    board.Pool = "p";
    store->FinishBoard(board, 1, TSerialFate::Committed);
    EXPECT_EQ(store->Numbers("p", "spoiled"), (std::vector<uint64_t>{1}));
    EXPECT_EQ(store->Reserve("p", "st1", "/dev/ttyUSB0"), 4u);
}

TEST_P(StoreContract, RecordsKeepEveryFieldAndAreFilteredAndSummed)
{
    auto store = Open();
    TStoredBoard first = Board("st1", "ok", 0x1234, "2026-12-10T08:00:00Z");
    first.Failure = "a \"quoted\", odd\nfailure";
    store->FinishBoard(first, std::nullopt, TSerialFate::Committed);
    store->FinishBoard(Board("st1", "verify failed", -1, "2026-12-10T09:00:00Z"), std::nullopt, TSerialFate::Committed);
    store->FinishBoard(Board("st2", "ok", 0x1235, "2026-12-10T23:59:59Z"), std::nullopt, TSerialFate::Committed);
    store->FinishBoard(Board("st1", "ok", 0x1236, "2026-12-11T00:00:00Z"), std::nullopt, TSerialFate::Committed);
    const auto all = store->Records({});
    ASSERT_EQ(all.size(), 4u);
    const TStoredBoard& r = all[0];
    EXPECT_EQ(r.TimeUtc, "2026-12-10T08:00:00Z");
    EXPECT_EQ(r.Station, "st1");
    EXPECT_EQ(r.Operator, "op");
    EXPECT_EQ(r.Box, "ZEMPRIX (COM) 2.1");
    EXPECT_EQ(r.Port, "/dev/ttyUSB0");
    EXPECT_EQ(r.Device, "COP8SBR9");
    EXPECT_EQ(r.Image, "/tmp/in.hex");
    EXPECT_EQ(r.ImageSize, 32768);
    EXPECT_EQ(r.ImageCrc32, "1A2B3C4D");
    EXPECT_EQ(r.OptionByte, 6);
    EXPECT_EQ(r.SerialNumber, 0x1234);
    EXPECT_EQ(r.Steps, "erase+program+verify+serial");
    EXPECT_EQ(r.Result, "ok");
    EXPECT_EQ(r.Failure, "a \"quoted\", odd\nfailure");
    EXPECT_EQ(r.DurationMs, 1234);
    EXPECT_EQ(all[1].SerialNumber, -1);
    EXPECT_LT(all[0].Id, all[1].Id);

    TRecordFilter day;
    day.Since = "2026-12-10";
    day.Until = "2026-12-10";
    EXPECT_EQ(store->Records(day).size(), 3u);
    TRecordFilter station;
    station.Station = "st2";
    EXPECT_EQ(store->Records(station).size(), 1u);
    TRecordFilter serial;
    serial.SerialNumber = 0x1236;
    ASSERT_EQ(store->Records(serial).size(), 1u);
    EXPECT_EQ(store->Records(serial)[0].TimeUtc, "2026-12-11T00:00:00Z");

    const auto summary = store->Summary({});
    ASSERT_EQ(summary.size(), 3u);
    EXPECT_EQ(summary[0].Day, "2026-12-10");
    EXPECT_EQ(summary[0].Station, "st1");
    EXPECT_EQ(summary[0].Boards, 2);
    EXPECT_EQ(summary[0].Passed, 1);
    EXPECT_EQ(summary[0].Failed, 1);
    EXPECT_DOUBLE_EQ(summary[0].YieldPercent(), 50.0);
    EXPECT_EQ(summary[1].Station, "st2");
    EXPECT_EQ(summary[2].Day, "2026-12-11");
}

TEST_P(StoreContract, AnOlderSchemaIsUpgradedWithItsRecordsAndANewerOneIsRefused)
{
    {
        auto old = Open(1);
        EXPECT_EQ(old->SchemaVersion(), 1);
        old->CreatePool(Pool("p", 7));
        TStoredBoard b = Board("st1", "ok", 0x00AB);
        b.Serial = "00AB";
        old->FinishBoard(b, std::nullopt, TSerialFate::Committed);
    }
    {
        auto store = Open();
        EXPECT_EQ(store->SchemaVersion(), 2);
        const auto rows = store->Records({});
        ASSERT_EQ(rows.size(), 1u);
        // The upgrade filled the new number column from the text the image held.
        EXPECT_EQ(rows[0].SerialNumber, 0xAB);
        EXPECT_EQ(rows[0].DurationMs, 0);
        EXPECT_EQ(store->Reserve("p", "s", "b"), 7u);
    }
    // A later program moved the schema on: this one must not write into what it does not know.
    RawSql(location_, "UPDATE zemprix_schema SET version = 3");
    const std::string refusal = ErrorOf([&] { Open(); });
    EXPECT_NE(refusal.find("has schema version 3, newer than this program knows (2)"), std::string::npos) << refusal;
    EXPECT_EQ(RawSql(location_, "SELECT COUNT(*) FROM boards"), "1");
}

// Stations that start together on a new store create its schema once and never share a number.
TEST_P(StoreContract, StationsStartingTogetherShareTheSchemaAndNeverANumber)
{
    Open()->CreatePool(Pool("p", 1));
    constexpr int kStations = 4, kEach = 25;
    std::vector<std::vector<uint64_t>> taken(kStations);
    std::vector<std::string> errors(kStations);
    std::vector<std::thread> stations;
    const std::string fresh = NewStore(GetParam(), tmp_, "fresh");
    for (int i = 0; i < kStations; ++i)
        stations.emplace_back([&, i] {
            try {
                // A store of its own per thread: a connection belongs to the thread that opened it.
                auto schemaOnly = OpenProductionStore(fresh);
                auto store = OpenProductionStore(location_);
                for (int n = 0; n < kEach; ++n)
                    taken[static_cast<size_t>(i)].push_back(store->Reserve("p", "st" + std::to_string(i), "box"));
            } catch (const std::exception& e) {
                errors[static_cast<size_t>(i)] = e.what();
            }
        });
    for (std::thread& t : stations) t.join();
    std::set<uint64_t> all;
    for (int i = 0; i < kStations; ++i) {
        EXPECT_EQ(errors[static_cast<size_t>(i)], "");
        all.insert(taken[static_cast<size_t>(i)].begin(), taken[static_cast<size_t>(i)].end());
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(kStations * kEach));
    EXPECT_EQ(*all.rbegin(), static_cast<uint64_t>(kStations * kEach));
    EXPECT_EQ(OpenProductionStore(fresh)->SchemaVersion(), IProductionStore::kSchemaVersion);
}

// The window opens the store; the boards may run on a thread of their own. Each thread gets its
// own connection, as Qt SQL wants it.
TEST_P(StoreContract, AStoreOpenedByOneThreadServesAnother)
{
    auto store = Open();
    store->CreatePool(Pool("p", 1));
    uint64_t reserved = 0;
    std::string error;
    std::thread worker([&] {
        try {
            reserved = store->Reserve("p", "st", "box");
            TStoredBoard board = Board("st", "ok", static_cast<int64_t>(reserved));
            board.Pool = "p";
            store->FinishBoard(board, reserved, TSerialFate::Committed);
        } catch (const std::exception& e) {
            error = e.what();
        }
    });
    worker.join();
    EXPECT_EQ(error, "");
    EXPECT_EQ(reserved, 1u);
    EXPECT_EQ(store->Numbers("p", "committed"), (std::vector<uint64_t>{1}));
    EXPECT_EQ(store->Records({}).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreContract, ::testing::Values(TEngine::Sqlite, TEngine::Postgres),
                         [](const ::testing::TestParamInfo<TEngine>& info) { return EngineName(info.param); });

}  // namespace
