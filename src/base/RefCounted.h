// Intrusive atomic reference counting for objects shared between threads (fingerprints).
// Thread: AddRef/ReleaseRef from any thread; the object dies with its last reference.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace orvane {

class TRefCounted {
public:
    TRefCounted() = default;
    TRefCounted(const TRefCounted&) = delete;
    TRefCounted& operator=(const TRefCounted&) = delete;

    void AddRef() const noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }
    void ReleaseRef() const noexcept {
        if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }
    /// For diagnostics and tests only: the count may change at once.
    std::int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_relaxed); }

protected:
    virtual ~TRefCounted() = default;

private:
    mutable std::atomic<std::int32_t> FRefCount{0};
};

/// Holds one reference. Moving hands the reference over (a posted message owns the moved one).
template <class T>
class TRefPtr {
public:
    TRefPtr() noexcept = default;
    TRefPtr(std::nullptr_t) noexcept {}
    explicit TRefPtr(T* p) noexcept : FPtr(p) {
        if (FPtr) FPtr->AddRef();
    }
    TRefPtr(const TRefPtr& o) noexcept : TRefPtr(o.FPtr) {}
    TRefPtr(TRefPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
    template <class U>
    TRefPtr(const TRefPtr<U>& o) noexcept : TRefPtr(static_cast<T*>(o.get())) {}
    ~TRefPtr() {
        if (FPtr) FPtr->ReleaseRef();
    }
    TRefPtr& operator=(TRefPtr o) noexcept {
        std::swap(FPtr, o.FPtr);
        return *this;
    }
    T* get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    T& operator*() const noexcept { return *FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }
    void reset() noexcept { TRefPtr().swap(*this); }
    void swap(TRefPtr& o) noexcept { std::swap(FPtr, o.FPtr); }
    friend bool operator==(const TRefPtr& a, const TRefPtr& b) noexcept { return a.FPtr == b.FPtr; }

private:
    T* FPtr = nullptr;
};

/// Creates a counted object; the only place where such objects are allocated.
template <class T, class... Args>
TRefPtr<T> MakeRef(Args&&... args) {
    return TRefPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace orvane
