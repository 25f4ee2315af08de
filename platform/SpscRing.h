#pragma once
// A bounded single-producer, single-consumer queue that never locks or allocates, for handing things
// to and from a real-time audio thread. Values move in and out; a slot left behind is moved-from, so a
// shared pointer passing through costs no reference count and frees nothing on either side.

#include <array>
#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace zorvik::platform {

template <typename T, std::size_t N>
class SpscRing {
    static_assert(N >= 2 && (N & (N - 1)) == 0, "a power of two, so the indices wrap cleanly");

  public:
    // Producer only. False, leaving `value` alone, when the queue is full.
    bool Push(T&& value) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == N) {
            return false;
        }
        slots_[head % N] = std::move(value);
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    // Consumer only. Moves the oldest value into `out`, which should be empty; false when there is none.
    bool Pop(T& out) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            return false;
        }
        out = std::move(slots_[tail % N]);
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer only. The oldest value, left in the queue; null when there is none.
    const T* Peek() const {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        return tail == head_.load(std::memory_order_acquire) ? nullptr : &slots_[tail % N];
    }

    // Consumer only. Drops the oldest value, if there is one. Only for values whose end frees nothing:
    // the consumer is often the real-time thread, and anything else is taken with Pop and let go where
    // freeing is allowed.
    void Drop() {
        static_assert(std::is_trivially_destructible_v<T>, "Pop it and free it off the real-time thread");
        T gone{};
        Pop(gone);
    }

    // Consumer only. Drops every value there is.
    void Clear() {
        while (Peek() != nullptr) {
            Drop();
        }
    }

    // Producer only: how many more Push() calls will succeed at least.
    std::size_t Room() const {
        return N - (head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
    }

  private:
    std::array<T, N> slots_{};
    // Apart, so the two threads do not bounce one cache line between them at every hit.
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace zorvik::platform
