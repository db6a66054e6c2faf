// One owner template for every Win32 handle kind, and a COM pointer with the same members:
// get(), put() (release what is held, hand out the address for an API that outputs one),
// reset(), release().
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace tarnix {

// `Traits` names the handle type (Type), its empty value (Invalid(), a function so that it may
// be INVALID_HANDLE_VALUE) and how to close it (Close).
template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type value) noexcept : m_value(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const noexcept { return m_value; }
    Type* put() noexcept {
        reset();
        return &m_value;
    }
    void reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(m_value, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    Type release() noexcept { return std::exchange(m_value, Traits::Invalid()); }
    explicit operator bool() const noexcept { return m_value != Traits::Invalid(); }

private:
    Type m_value = Traits::Invalid();
};

template <class T, T (*InvalidValue)(), void (*CloseFunction)(T)>
struct HandleTraits {
    using Type = T;
    static T Invalid() noexcept { return InvalidValue(); }
    static void Close(T value) noexcept { CloseFunction(value); }
};

inline HANDLE NullHandle() noexcept { return nullptr; }
inline HANDLE InvalidFileHandle() noexcept { return INVALID_HANDLE_VALUE; }
inline HKEY NullKey() noexcept { return nullptr; }
inline BSTR NullBstr() noexcept { return nullptr; }
inline void CloseKernelHandle(HANDLE h) noexcept { CloseHandle(h); }
inline void CloseRegKey(HKEY h) noexcept { RegCloseKey(h); }
inline void FreeBstr(BSTR s) noexcept { SysFreeString(s); }

// Events, semaphores, threads: null when empty.
using UniqueKernelHandle = UniqueHandle<HandleTraits<HANDLE, NullHandle, CloseKernelHandle>>;
// Files: INVALID_HANDLE_VALUE when empty, as CreateFileA reports a failure.
using UniqueFile = UniqueHandle<HandleTraits<HANDLE, InvalidFileHandle, CloseKernelHandle>>;
using UniqueRegKey = UniqueHandle<HandleTraits<HKEY, NullKey, CloseRegKey>>;
using UniqueBstr = UniqueHandle<HandleTraits<BSTR, NullBstr, FreeBstr>>;

// A VARIANT cleared on scope exit.
class UniqueVariant {
public:
    UniqueVariant() noexcept { VariantInit(&m_value); }
    ~UniqueVariant() { VariantClear(&m_value); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    VARIANT* put() noexcept {
        VariantClear(&m_value);
        return &m_value;
    }
    const VARIANT& get() const noexcept { return m_value; }

private:
    VARIANT m_value;
};

// Shared reference to a COM-style object (anything with AddRef and Release).
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a reference of its own.
    explicit ComPtr(T* p) noexcept : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(other.release()) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }

    // Adopts a reference that the caller already owns.
    static ComPtr Attach(T* p) noexcept {
        ComPtr result;
        result.m_p = p;
        return result;
    }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    T** put() noexcept {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (T* old = std::exchange(m_p, nullptr)) old->Release();
    }
    T* release() noexcept { return std::exchange(m_p, nullptr); }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

}  // namespace tarnix
