#pragma once
// Serial numbers shared by several programs at once (the boxes of a gang run): a small text file
// under an exclusive lock. A board takes the lowest number not in use; a board that failed gives
// its number back, so the next board gets it and no number is skipped or handed out twice.
#include <cstdint>
#include <string>
#include <vector>

class TSerialPool {
public:
    // The file is created with `first` as the next number when it does not exist.
    TSerialPool(std::string path, uint32_t first);

    // Numbers go on past FFFFFFFFh: the board that takes one refuses it, as any number wider
    // than the chosen size, instead of the count wrapping to numbers already handed out.
    uint64_t Take();
    void Release(uint64_t number);

    // What the file says now: the next new number and the numbers given back and not taken again.
    struct TState {
        uint64_t Next = 0;
        std::vector<uint64_t> Free;
    };
    TState Read() const;

private:
    template <typename F>
    void Locked(F change) const;

    std::string path_;
};
