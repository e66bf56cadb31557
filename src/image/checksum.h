#pragma once
// The five checksums of the "Device Info" page, as small incremental objects looked up by name.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TChecksum {
public:
    virtual ~TChecksum() = default;
    virtual std::string Name() const = 0;
    // Sets the initial state; Add may then be called any number of times before Finish. The
    // CRCs and XOR-16 are pure byte streams. XOR-32 works in 16-bit words and treats an
    // odd-length buffer specially, so it takes each Add buffer as a whole: feed it the image in
    // one call (or in even-length pieces) to get the page's value.
    virtual void Begin() = 0;
    virtual void Add(const uint8_t* data, size_t length) = 0;
    // The digest: the final state's bytes, least significant first (2 or 4 bytes).
    virtual std::vector<uint8_t> Finish() = 0;

    // Begin, Add of the whole buffer, Finish.
    std::vector<uint8_t> Compute(const uint8_t* data, size_t length);
    std::vector<uint8_t> Compute(const std::vector<uint8_t>& data) { return Compute(data.data(), data.size()); }
};

// The five names in the order the page shows them.
const std::vector<std::string>& ChecksumNames();
// The algorithm of that exact name, or nullptr.
std::unique_ptr<TChecksum> ChecksumByName(const std::string& name);
// Digest bytes from last to first as upper-case hex: the state as a 4- or 8-digit number.
std::string DigestText(const std::vector<uint8_t>& digest);
