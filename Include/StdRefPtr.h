// Intrusive, non-atomic reference counting for the render objects.
//
// A new object starts with a count of 1, owned by whoever created it.
// MakeRefPtr hands that one reference to a CStdRefPtr without adding another.
#pragma once

class IObjRef {
public:
    virtual long AddRef() = 0;
    virtual long Release() = 0;
    virtual void OnFinalRelease() = 0;
};

template <class I>
class TObjRefImpl : public I {
public:
    TObjRefImpl() : m_nRef(1) {}
    TObjRefImpl(const TObjRefImpl&) = delete;
    TObjRefImpl& operator=(const TObjRefImpl&) = delete;

    long AddRef() override { return ++m_nRef; }

    long Release() override
    {
        // The result is taken before the object may be destroyed.
        const long n = --m_nRef;
        if (n == 0)
            OnFinalRelease();
        return n;
    }

    void OnFinalRelease() override { delete this; }

    virtual ~TObjRefImpl() {}

protected:
    int m_nRef;
};

template <class T>
class MakeRefPtr {
public:
    explicit MakeRefPtr(T* p) : m_p(p) {}
    T* Get() const { return m_p; }

private:
    T* m_p;
};

template <class T>
class CStdRefPtr {
public:
    CStdRefPtr() : m_p(nullptr) {}
    CStdRefPtr(const CStdRefPtr&) = delete;
    CStdRefPtr& operator=(const CStdRefPtr&) = delete;

    ~CStdRefPtr()
    {
        if (m_p)
            m_p->Release();
    }

    // Adopts the creation reference of src: no AddRef.
    T* operator=(const MakeRefPtr<T>& src)
    {
        if (m_p != src.Get()) {
            if (m_p)
                m_p->Release();
            m_p = src.Get();
        }
        return m_p;
    }

    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    bool operator==(T* p) const { return m_p == p; }
    bool operator!=(T* p) const { return m_p != p; }

private:
    T* m_p;
};
