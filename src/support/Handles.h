// One owner template for every Win32 handle kind, and a COM pointer with the same members:
// get(), put() (release what is held, hand out the address for an API that outputs one),
// reset(), release().
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wininet.h>

#include <utility>

namespace tarnix {

template <class T, class Close, T Invalid = T()>
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(T value) noexcept : m_value(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    T get() const noexcept { return m_value; }
    T* put() noexcept {
        reset();
        return &m_value;
    }
    void reset(T value = Invalid) noexcept {
        T old = std::exchange(m_value, value);
        if (old != Invalid) Close()(old);
    }
    T release() noexcept { return std::exchange(m_value, Invalid); }
    explicit operator bool() const noexcept { return m_value != Invalid; }

private:
    T m_value = Invalid;
};

struct CloseKernelHandle {
    void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
struct CloseInternetHandle {
    void operator()(HINTERNET h) const noexcept { InternetCloseHandle(h); }
};
struct CloseRegKey {
    void operator()(HKEY h) const noexcept { RegCloseKey(h); }
};
struct FreeBstr {
    void operator()(BSTR s) const noexcept { SysFreeString(s); }
};

using UniqueKernelHandle = UniqueHandle<HANDLE, CloseKernelHandle>;
using UniqueInternetHandle = UniqueHandle<HINTERNET, CloseInternetHandle>;
using UniqueRegKey = UniqueHandle<HKEY, CloseRegKey>;
using UniqueBstr = UniqueHandle<BSTR, FreeBstr>;

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
