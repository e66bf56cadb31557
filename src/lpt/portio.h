#pragma once
// Register I/O backends of the port layer. TVicLPT reaches the parallel-port registers only
// through this interface, so the same detection and pin logic runs over ppdev, raw port
// instructions, a simulated chipset or a TCP connection to one.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class IPortIo {
public:
    virtual ~IPortIo() = default;
    // Acquires whatever the backend needs (device node, privilege, connection). False when the
    // registers cannot be reached; nothing else is called then except the destructor.
    virtual bool Open() = 0;
    virtual void Close() = 0;
    // Asks for access to the I/O addresses first..last. Must be called before those addresses
    // are read or written; a backend that needs nothing returns true.
    virtual bool GrantRange(uint16_t first, uint16_t last) = 0;
    virtual uint8_t Read(uint16_t address) = 0;
    virtual void Write(uint16_t address, uint8_t value) = 0;
    // The firmware's table of LPT1..LPT3 base addresses; zeros where it has none.
    virtual std::array<uint16_t, 3> BiosTable() = 0;
    // Whether the operating system's port configuration describes these registers. Simulated
    // and remote chipsets are not in it, so the layer goes straight to their BIOS table.
    virtual bool UsesSystemDiscovery() const { return true; }
};

// Creates a backend from the text after the name ("remote:HOST:PORT" passes "HOST:PORT").
using TPortIoFactory = std::function<std::unique_ptr<IPortIo>(const std::string& argument)>;

// One built-in backend: a name and its creator.
struct TPortBackendRow {
    const char* Name;
    std::unique_ptr<IPortIo> (*Create)(const std::string& argument);
};
// "ppdev", "direct" and "remote"; constant, the same for every session.
extern const std::array<TPortBackendRow, 3> kBuiltInPortBackends;

// The backends one session can pick from: the built-in table plus what the session adds (the
// simulator library adds "sim" through AddSimPortBackend). An added name hides a built-in one.
class TPortBackends {
public:
    void Add(const std::string& name, TPortIoFactory factory);
    bool Has(const std::string& name) const;
    // A backend for a selection such as "ppdev" or "remote:127.0.0.1:4242"; nullptr for an
    // unknown name.
    std::unique_ptr<IPortIo> Create(const std::string& selection) const;

private:
    std::vector<std::pair<std::string, TPortIoFactory>> added_;
};

// A backend from the built-in table alone; nullptr for an unknown name.
std::unique_ptr<IPortIo> CreateBuiltInPortIo(const std::string& selection);
// The backend ZEMPRIX_PORTIO chooses, or the platform default ("ppdev" on Linux).
std::string SelectedPortBackendName();

// Built-in backends (each a platform file; the registry wires them up).
std::unique_ptr<IPortIo> CreatePpdevPortIo();
std::unique_ptr<IPortIo> CreateDirectPortIo();
// `answerMs` bounds the wait for each whole answer line.
std::unique_ptr<IPortIo> CreateRemotePortIo(const std::string& hostAndPort, int answerMs = 5000);
