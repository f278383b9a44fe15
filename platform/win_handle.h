#pragma once
// Small owners for Win32 handles (Windows build only): copy deleted, move allowed, each handle kind
// with its own invalid value, put() releases the old value first. Every handle kind the system
// opens has its traits here, and nowhere else.
#include <windows.h>
// Not part of windows.h under WIN32_LEAN_AND_MEAN.
#include <objbase.h>
#include <bcrypt.h>
#include <wincrypt.h>
#include <winhttp.h>

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

struct MemoryDcTraits {
    using Type = HDC;
    static HDC Invalid() { return nullptr; }
    static void Close(HDC dc) { ::DeleteDC(dc); }
};
struct CryptProviderTraits {
    using Type = HCRYPTPROV;
    static HCRYPTPROV Invalid() { return 0; }
    static void Close(HCRYPTPROV h) { ::CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
    using Type = HCRYPTHASH;
    static HCRYPTHASH Invalid() { return 0; }
    static void Close(HCRYPTHASH h) { ::CryptDestroyHash(h); }
};
struct BcryptAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static BCRYPT_ALG_HANDLE Invalid() { return nullptr; }
    static void Close(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct BcryptKeyTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static BCRYPT_KEY_HANDLE Invalid() { return nullptr; }
    static void Close(BCRYPT_KEY_HANDLE h) { ::BCryptDestroyKey(h); }
};
struct InternetTraits {
    using Type = HINTERNET;
    static HINTERNET Invalid() { return nullptr; }
    static void Close(HINTERNET h) { ::WinHttpCloseHandle(h); }
};
template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Interface* Invalid() { return nullptr; }
    static void Close(Interface* object) { object->Release(); }
};
// Memory the system hands out with LocalAlloc (GetSecurityInfo's security descriptor).
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static HLOCAL Invalid() { return nullptr; }
    static void Close(HLOCAL memory) { ::LocalFree(memory); }
};
struct CoTaskMemTraits {
    using Type = PWSTR;
    static PWSTR Invalid() { return nullptr; }
    static void Close(PWSTR text) { ::CoTaskMemFree(text); }
};

using UniqueFile = UniqueValue<FileTraits>;
using UniqueFind = UniqueValue<FindTraits>;
using UniqueHandle = UniqueValue<KernelHandleTraits>;
using UniqueGdiObject = UniqueValue<GdiObjectTraits>;
using UniqueMemoryDc = UniqueValue<MemoryDcTraits>;  // from CreateCompatibleDC
using UniqueCryptProvider = UniqueValue<CryptProviderTraits>;
using UniqueCryptHash = UniqueValue<CryptHashTraits>;
using UniqueInternet = UniqueValue<InternetTraits>;
using UniqueBcryptAlgorithm = UniqueValue<BcryptAlgorithmTraits>;
using UniqueBcryptKey = UniqueValue<BcryptKeyTraits>;
template <typename Interface>
using UniqueCom = UniqueValue<ComTraits<Interface>>;
using UniqueCoTaskMemString = UniqueValue<CoTaskMemTraits>;
using UniqueLocalMemory = UniqueValue<LocalMemoryTraits>;

// The thread's COM apartment: CoUninitialize runs on exit only when CoInitializeEx succeeded
// (S_FALSE, an apartment of the same kind already open, counts and still needs it; a failure such
// as RPC_E_CHANGED_MODE does not).
class ComApartment {
public:
    explicit ComApartment(DWORD model) : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, model))) {}
    ~ComApartment() {
        if (initialized_) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool initialized() const { return initialized_; }

private:
    bool initialized_;
};

}  // namespace platform
