// What the production store adds to each board: reserving its serial number and writing its record
// with the number's fate, each one transaction, on SQLite and on a local PostgreSQL server that the
// benchmark starts for itself (tests/store/pg_server.sh). The limits: 5 ms per board on SQLite,
// 20 ms on PostgreSQL.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "store/productionstore.h"

namespace {

std::string Output(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

void Bench(const char* engine, const std::string& location, double limitMs)
{
    constexpr int kBoards = 300;
    auto store = OpenProductionStore(location);
    TSerialPoolRow pool;
    pool.Name = "bench";
    pool.Start = 1;
    pool.SizeBytes = 4;
    pool.Location = 0x7F00;
    store->CreatePool(pool);
    TStoredBoard board;
    board.Station = StationName();
    board.Operator = OperatorName();
    board.Box = "ZEMPRIX (COM)";
    board.Port = "/dev/ttyUSB0";
    board.Device = "COP8SBR9";
    board.Image = "/srv/images/product-1.4.hex";
    board.ImageSize = 32768;
    board.ImageCrc32 = "1A2B3C4D";
    board.OptionByte = 6;
    board.Pool = "bench";
    board.Steps = "reload+erase+program+verify+serial";
    board.Result = "ok";
    std::vector<double> ms;
    for (int i = 0; i < kBoards; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const uint64_t n = store->Reserve("bench", board.Station, board.Port);
        board.SerialNumber = static_cast<int64_t>(n);
        board.Serial = std::to_string(n);
        board.TimeUtc = UtcNow();
        store->FinishBoard(board, n, TSerialFate::Committed);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double m : ms) sum += m;
    const double mean = sum / kBoards;
    std::printf("%-10s %6d boards  mean %6.2f ms  median %6.2f ms  p95 %6.2f ms  limit %4.0f ms  %s\n", engine, kBoards,
                mean, ms[kBoards / 2], ms[kBoards * 95 / 100], limitMs, mean < limitMs ? "ok" : "OVER");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    try {
        Bench("SQLite", dir.path().toStdString() + "/bench.sqlite", 5);
    } catch (const std::exception& e) {
        std::printf("SQLite: %s\n", e.what());
    }
    const std::string script = std::string(ZEMPRIX_SOURCE_DIR) + "/tests/store/pg_server.sh";
    const std::string state = dir.path().toStdString() + "/pg.state";
    if (Output(script + " start '" + state + "'").empty()) {
        std::printf("PostgreSQL: the server did not start (see above)\n");
        return 1;
    }
    try {
        Bench("PostgreSQL", Output(script + " createdb '" + state + "' bench"), 20);
    } catch (const std::exception& e) {
        std::printf("PostgreSQL: %s\n", e.what());
    }
    Output(script + " stop '" + state + "'");
    return 0;
}
