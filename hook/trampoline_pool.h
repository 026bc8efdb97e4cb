#pragma once
// Executable memory for trampolines: fixed-size slots carved from blocks of
// one allocation granule each, so that seven hooks do not cost seven granules.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hook {

class TrampolinePool {
  public:
    static constexpr std::size_t kSlotSize = 64;
    static constexpr std::size_t kBlockSize = 64 * 1024; // Windows' allocation granularity
    static constexpr std::size_t kSlotsPerBlock = kBlockSize / kSlotSize;

    // A slot of kSlotSize executable bytes, or nullptr when no memory can be had.
    void* allocate();
    // Gives a slot back; its block is freed once no slot of it is in use.
    void release(void* slot);
    // Frees every block.
    void releaseAll();

  private:
    struct Block {
        std::uint8_t* base;
        std::bitset<kSlotsPerBlock> inUse;
    };
    std::vector<Block> blocks_;
};

} // namespace hook
