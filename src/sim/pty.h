#pragma once
// A pseudo-terminal pair for serving the box: the host opens the slave path like any serial
// port, the simulator reads and writes the master side.
#include <string>

class TPty {
public:
    TPty() = default;
    ~TPty();
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    // Creates the pair, puts the slave in raw mode and keeps a slave descriptor open ourselves,
    // so that the master never sees a hang-up while the host closes and reopens its port.
    // On failure returns false and sets `error`.
    bool Open(std::string& error);
    void Close();
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Raw mode (no echo, no line editing, no CR/LF translation, 8 bits) for a terminal descriptor.
bool MakeRaw(int fd);
