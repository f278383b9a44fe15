#pragma once
// Small owners for Win32 handles (Windows build only): copy deleted, move allowed, each handle kind
// with its own invalid value, put() releases the old value first.
#include <windows.h>

#include <utility>

namespace platform {

// Traits give the handle type, its invalid value and how to release it.
template <typename Traits>
class UniqueValue {
    using T = typename Traits::Type;


public:
    UniqueValue() = default;
    explicit UniqueValue(T value) : value_(value) {}
    ~UniqueValue() { reset(); }
    UniqueValue(const UniqueValue&) = delete;
    UniqueValue& operator=(const UniqueValue&) = delete;
    UniqueValue(UniqueValue&& other) noexcept : value_(other.release()) {}
    UniqueValue& operator=(UniqueValue&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return value_; }
    bool valid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return valid(); }
    T release() { return std::exchange(value_, Traits::Invalid()); }
    void reset(T value = Traits::Invalid()) {
        T old = std::exchange(value_, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Traits::Invalid();
};

struct FileTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
struct KernelHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static HGDIOBJ Invalid() { return nullptr; }
    static void Close(HGDIOBJ h) { ::DeleteObject(h); }
};

using UniqueFile = UniqueValue<FileTraits>;
using UniqueFind = UniqueValue<FindTraits>;
using UniqueHandle = UniqueValue<KernelHandleTraits>;
using UniqueGdiObject = UniqueValue<GdiObjectTraits>;

}  // namespace platform
