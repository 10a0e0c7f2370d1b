#pragma once
// A shared reference: a pointer that registers itself in the
// object reference registry while it holds an object. Taking = AddReference;
// dropping = ReleaseReference, and the holder whose release leaves 0 runs the
// object's destructor and frees it; assigning drops the old object first,
// then takes the new one. The registry's count is the only owner count, so
// any number of holders of one object, in any place, share it.
//
// Objects are registered under the address of their complete object, so that
// holders of a base class and of the class itself count together and the
// registry frees the right storage at exit.
#include "esedb/CObjectRegistry.h"

#include <type_traits>
#include <utility>

namespace NJbFramework {

template <typename T>
class CSharedRef {
public:
    CSharedRef() = default;
    // Takes the object (null holds nothing).
    explicit CSharedRef(T* object) { Take(object); }
    CSharedRef(const CSharedRef& other) { Take(other.m_object); }
    // Moving hands the registered reference over; the count does not change.
    CSharedRef(CSharedRef&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
    template <typename U, typename = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    CSharedRef(const CSharedRef<U>& other)
    {
        Take(other.Get());
    }
    ~CSharedRef() { Drop(); }

    CSharedRef& operator=(const CSharedRef& other)
    {
        Reset(other.m_object);
        return *this;
    }
    CSharedRef& operator=(CSharedRef&& other) noexcept
    {
        if (this != &other) {
            Drop();
            m_object = other.m_object;
            other.m_object = nullptr;
        }
        return *this;
    }

    // Drops the held object, then takes the new one. Resetting to the object
    // already held keeps it (dropping first could destroy it).
    void Reset(T* object = nullptr)
    {
        if (object == m_object)
            return;
        Drop();
        Take(object);
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    static const void* Key(T* object)
    {
        if constexpr (std::is_polymorphic<T>::value)
            return dynamic_cast<const void*>(object);
        else
            return static_cast<const void*>(object);
    }
    void Take(T* object)
    {
        m_object = object;
        if (object)
            CObjectRegistry::Get().AddReference(Key(object));
    }
    void Drop()
    {
        T* object = m_object;
        m_object = nullptr;
        if (object && CObjectRegistry::Get().ReleaseReference(Key(object)) == 0)
            delete object;
    }

    T* m_object = nullptr;
};

// Creates an object held by a new reference.
template <typename T, typename... Args>
CSharedRef<T> MakeShared(Args&&... args)
{
    return CSharedRef<T>(new T(std::forward<Args>(args)...));
}

} // namespace NJbFramework
