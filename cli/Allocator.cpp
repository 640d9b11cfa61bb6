// Small C++ allocations of vesk-info, Exiv2 and libstdc++ alike, kept on a
// per-thread free list instead of going back to malloc at once.
//
// A report allocates and frees a couple of thousand small blocks (Exiv2's
// tags, the property trees, their texts), all freed together when the file
// is done. glibc keeps only seven freed blocks of a size per thread before
// taking the slow path, and that slow path was a fifth of vesk-info's
// instructions per file. An allocator such as tcmalloc did as well on a
// batch but cost 2 ms at start, which a single file cannot afford.
//
// Bounded: at most 1 MB of freed blocks is kept per thread; larger blocks and
// anything past the bound go straight to free(). The sanitizer builds leave
// this file out, as they bring their own allocator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// The size class is kept in a header before the block; 16 bytes keep
// malloc's alignment.
constexpr std::size_t kHeader = 16;
constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = 32;  // blocks up to 512 bytes
constexpr std::size_t kUncached = kClasses;
constexpr std::size_t kMaxKeptBytes = 1 << 20;

struct FreeBlock {
    FreeBlock* next;
};

// Trivially destructible, so it stays usable while the thread's other
// objects are destroyed; `closed` then sends every block back to free().
struct Cache {
    FreeBlock* heads[kClasses];
    std::size_t keptBytes;
    bool closed;
};
thread_local Cache cache{};

void flush(Cache& c) {
    for (auto& head : c.heads) {
        while (head) {
            FreeBlock* next = head->next;
            std::free(head);
            head = next;
        }
    }
    c.keptBytes = 0;
}

// Flushes the thread's list when the thread ends.
struct Closer {
    bool armed = false;
    ~Closer() {
        cache.closed = true;
        flush(cache);
    }
};
thread_local Closer closer;

void* allocate(std::size_t size) {
    const std::size_t cls = size == 0 ? 0 : (size - 1) / kGranule;
    Cache& c = cache;
    if (cls < kClasses && !c.closed) {
        if (FreeBlock* b = c.heads[cls]) {
            c.heads[cls] = b->next;
            c.keptBytes -= (cls + 1) * kGranule + kHeader;
            // The link overwrote the size class: without it, the block's
            // next release would read a pointer as its class and hand the
            // block back to free(), so a block was only ever reused once.
            *reinterpret_cast<std::size_t*>(b) = cls;
            return reinterpret_cast<char*>(b) + kHeader;
        }
        // Touched here so that the thread's list is flushed when it ends.
        closer.armed = true;
    }
    const std::size_t raw = cls < kClasses ? (cls + 1) * kGranule + kHeader : size + kHeader;
    if (raw < size) throw std::bad_alloc();
    void* block = std::malloc(raw);
    if (!block) throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = cls < kClasses ? cls : kUncached;
    return static_cast<char*>(block) + kHeader;
}

void release(void* p) noexcept {
    if (!p) return;
    void* block = static_cast<char*>(p) - kHeader;
    const std::size_t cls = *static_cast<std::size_t*>(block);
    Cache& c = cache;
    const std::size_t bytes = (cls + 1) * kGranule + kHeader;
    if (cls < kClasses && !c.closed && c.keptBytes + bytes <= kMaxKeptBytes) {
        auto* b = static_cast<FreeBlock*>(block);
        b->next = c.heads[cls];
        c.heads[cls] = b;
        c.keptBytes += bytes;
        return;
    }
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
