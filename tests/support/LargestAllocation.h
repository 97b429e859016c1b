#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

// The sanitizer runtime calls these hooks on every allocation; absent without it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*))
    __attribute__((weak));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* pointer) __attribute__((weak));

namespace lumra::test {

// The largest single allocation, on any thread, while `work` runs; none in a build without the
// sanitizer runtime, where the work still runs so the test's other checks hold. A reader that
// gathers what it should have bounded shows here as one big buffer, whatever the machine's speed.
inline std::optional<size_t> largestAllocationDuring(const std::function<void()>& work)
{
    static std::atomic<bool> watching { false };
    static std::atomic<size_t> largest { 0 };
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks
        && __sanitizer_install_malloc_and_free_hooks(
            [](const volatile void*, size_t size) {
                if (!watching.load(std::memory_order_relaxed))
                    return;
                size_t seen = largest.load(std::memory_order_relaxed);
                while (size > seen && !largest.compare_exchange_weak(seen, size)) { }
            },
            [](const volatile void*) {});
    if (!hooked) {
        work();
        return std::nullopt;
    }
    largest = 0;
    watching = true;
    work();
    watching = false;
    return largest.load();
}

// How many allocations, on any thread, `work` makes; none without the sanitizer runtime. Work that
// builds a node for each element it reads makes at least one allocation per element, however fast
// or busy the machine is.
inline std::optional<size_t> allocationsDuring(const std::function<void()>& work)
{
    static std::atomic<bool> counting { false };
    static std::atomic<size_t> count { 0 };
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks
        && __sanitizer_install_malloc_and_free_hooks(
            [](const volatile void*, size_t) {
                if (counting.load(std::memory_order_relaxed))
                    count.fetch_add(1, std::memory_order_relaxed);
            },
            [](const volatile void*) {});
    if (!hooked) {
        work();
        return std::nullopt;
    }
    count = 0;
    counting = true;
    work();
    counting = false;
    return count.load();
}

// The sizes of the allocations of at least `atLeast` bytes, on any thread, while `work` runs (the
// first 64); none without the sanitizer runtime. Each copy of a large buffer shows as one of them.
inline std::optional<std::vector<size_t>> largeAllocationsDuring(size_t atLeast, const std::function<void()>& work)
{
    static std::atomic<size_t> threshold { 0 };
    static std::atomic<size_t> count { 0 };
    static std::array<std::atomic<size_t>, 64> sizes {};
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks
        && __sanitizer_install_malloc_and_free_hooks(
            [](const volatile void*, size_t size) {
                const size_t bound = threshold.load(std::memory_order_relaxed);
                if (bound == 0 || size < bound)
                    return;
                if (const size_t at = count.fetch_add(1); at < sizes.size())
                    sizes[at].store(size);
            },
            [](const volatile void*) {});
    if (!hooked) {
        work();
        return std::nullopt;
    }
    count = 0;
    threshold = std::max<size_t>(atLeast, 1);
    work();
    threshold = 0;
    std::vector<size_t> seen;
    for (size_t i = 0; i < std::min(count.load(), sizes.size()); ++i)
        seen.push_back(sizes[i].load());
    return seen;
}

// The most bytes held at once, on all threads together, above what was held as `work` began; none
// without the sanitizer runtime. Many small buffers gathered before any is let go show here, where
// the largest single allocation would not.
inline std::optional<size_t> peakHeldDuring(const std::function<void()>& work)
{
    static std::atomic<bool> watching { false };
    static std::atomic<long long> held { 0 };
    static std::atomic<long long> peak { 0 };
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks && __sanitizer_get_allocated_size
        && __sanitizer_install_malloc_and_free_hooks(
            [](const volatile void*, size_t size) {
                if (!watching.load(std::memory_order_relaxed))
                    return;
                const long long now = held.fetch_add((long long)size) + (long long)size;
                long long seen = peak.load(std::memory_order_relaxed);
                while (now > seen && !peak.compare_exchange_weak(seen, now)) { }
            },
            [](const volatile void* pointer) {
                if (watching.load(std::memory_order_relaxed) && pointer)
                    held.fetch_sub((long long)__sanitizer_get_allocated_size(pointer));
            });
    if (!hooked) {
        work();
        return std::nullopt;
    }
    held = 0;
    peak = 0;
    watching = true;
    work();
    watching = false;
    return size_t(std::max(0LL, peak.load()));
}

// Expects `largest` below `bound`. Without the sanitizer runtime nothing was measured, and the test
// says so as a skip; the skip only leaves this helper, so the test's other checks still run and count.
inline void expectLargestAllocationBelow(std::optional<size_t> largest, size_t bound, const char* what)
{
    if (largest) {
        EXPECT_LT(*largest, bound) << what;
        return;
    }
    GTEST_SKIP() << "the largest allocation is not measured without the sanitizer runtime: " << what;
}

} // namespace lumra::test
