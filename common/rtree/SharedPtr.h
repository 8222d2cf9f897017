// Reference-counted pointer for objects shared between trees (block pools).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

// The holder owns the object; the last CSharedPtr to let go destroys it.
// The count is atomic so that pointers could cross threads.
class CSharedPtrHost {
public:
    virtual ~CSharedPtrHost() = default;
    std::atomic<uint32_t> refs{1};
};

template <typename T>
class CSharedPtr {
public:
    // Holds T inside the holder.
    class CSharedPtrHostStatic : public CSharedPtrHost {
    public:
        template <typename... Args>
        explicit CSharedPtrHostStatic(Args&&... args) : object(std::forward<Args>(args)...) {}
        T object;
    };
    // Holds a T that it owns elsewhere on the heap.
    class CSharedPtrHostDynamic : public CSharedPtrHost {
    public:
        explicit CSharedPtrHostDynamic(std::unique_ptr<T> owned) : object(std::move(owned)) {}
        std::unique_ptr<T> object;
    };

    CSharedPtr() = default;
    CSharedPtr(const CSharedPtr& other) : m_object(other.m_object), m_host(other.m_host)
    {
        if (m_host)
            m_host->refs.fetch_add(1, std::memory_order_relaxed);
    }
    CSharedPtr(CSharedPtr&& other) noexcept
        : m_object(std::exchange(other.m_object, nullptr)), m_host(std::exchange(other.m_host, nullptr))
    {
    }
    CSharedPtr& operator=(CSharedPtr other) noexcept
    {
        std::swap(m_object, other.m_object);
        std::swap(m_host, other.m_host);
        return *this;
    }
    ~CSharedPtr() { Release(); }

    template <typename... Args>
    static CSharedPtr MakeStatic(Args&&... args)
    {
        auto* host = new CSharedPtrHostStatic(std::forward<Args>(args)...);
        return CSharedPtr(&host->object, host);
    }
    static CSharedPtr MakeDynamic(std::unique_ptr<T> owned)
    {
        T* object = owned.get();
        return CSharedPtr(object, new CSharedPtrHostDynamic(std::move(owned)));
    }

    void Release()
    {
        if (m_host && m_host->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete m_host;
        m_host = nullptr;
        m_object = nullptr;
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    uint32_t UseCount() const { return m_host ? m_host->refs.load(std::memory_order_relaxed) : 0; }

private:
    CSharedPtr(T* object, CSharedPtrHost* host) : m_object(object), m_host(host) {}

    T* m_object = nullptr;
    CSharedPtrHost* m_host = nullptr;
};
