#pragma once
// Holds every other thread of the process still while code is being patched.

#include <cstdint>
#include <vector>

namespace hook {

class InstructionPointerMap {
  public:
    // Where a thread stopped at `eip` should go on, or `eip` itself.
    virtual std::uintptr_t map(std::uintptr_t eip) const = 0;

  protected:
    ~InstructionPointerMap() = default;
};

class ThreadFreeze {
  public:
    ThreadFreeze();  // suspends every other thread of the process
    ~ThreadFreeze(); // resumes them
    ThreadFreeze(const ThreadFreeze&) = delete;
    ThreadFreeze& operator=(const ThreadFreeze&) = delete;

    // False when the threads could not all be listed or suspended: none is
    // held then, and no code may be written.
    bool held() const { return held_; }

    void moveInstructionPointers(const InstructionPointerMap& map) const;

  private:
    void release();

    std::vector<void*> threads_;     // thread handles, suspended once each
    std::vector<unsigned long> ids_; // as listed; freed only once the threads run again
    bool held_ = false;
};

} // namespace hook
