#pragma once

#include <QSharedData>
#include <QSharedDataPointer>

#include <optional>
#include <type_traits>
#include <utility>

namespace lumra {

// An optional value kept out of line, read and written like std::optional. It is one pointer wide
// when empty, which most of a history item's optional fields are (a 100,000-item history saves
// tens of megabytes), and copies share the value until one of them changes it.
template <typename T>
class SparseOptional {
    struct Box : QSharedData {
        template <typename... A>
        explicit Box(std::in_place_t, A&&... args) : value(std::forward<A>(args)...) { }
        T value;
    };

    template <typename U>
    static constexpr bool isValue = !std::is_same_v<std::remove_cvref_t<U>, SparseOptional>
        && !std::is_same_v<std::remove_cvref_t<U>, std::nullopt_t>
        && !std::is_same_v<std::remove_cvref_t<U>, std::optional<T>> && std::is_constructible_v<T, U>;

public:
    using value_type = T;

    SparseOptional() = default;
    SparseOptional(std::nullopt_t) { }
    template <typename U = T>
        requires isValue<U>
    SparseOptional(U&& value) : m_box(new Box(std::in_place, std::forward<U>(value)))
    {
    }
    SparseOptional(const std::optional<T>& value)
    {
        if (value)
            m_box = new Box(std::in_place, *value);
    }

    SparseOptional& operator=(std::nullopt_t)
    {
        reset();
        return *this;
    }
    template <typename U = T>
        requires isValue<U>
    SparseOptional& operator=(U&& value)
    {
        m_box = new Box(std::in_place, std::forward<U>(value));
        return *this;
    }
    SparseOptional& operator=(const std::optional<T>& value) { return *this = SparseOptional(value); }

    bool has_value() const { return m_box.constData() != nullptr; }
    explicit operator bool() const { return has_value(); }

    const T& operator*() const { return m_box.constData()->value; }
    T& operator*() { return m_box.data()->value; }
    const T* operator->() const { return &m_box.constData()->value; }
    T* operator->() { return &m_box.data()->value; }
    const T& value() const
    {
        if (!has_value())
            throw std::bad_optional_access();
        return **this;
    }
    template <typename U>
    T value_or(U&& fallback) const
    {
        return has_value() ? **this : static_cast<T>(std::forward<U>(fallback));
    }

    void reset() { m_box.reset(); }
    template <typename... A>
    T& emplace(A&&... args)
    {
        m_box = new Box(std::in_place, std::forward<A>(args)...);
        return m_box.data()->value;
    }

    operator std::optional<T>() const { return has_value() ? std::optional<T>(**this) : std::nullopt; }

    friend bool operator==(const SparseOptional& a, const SparseOptional& b)
    {
        return a.has_value() == b.has_value() && (!a.has_value() || a.m_box == b.m_box || *a == *b);
    }
    friend bool operator==(const SparseOptional& a, const std::optional<T>& b)
    {
        return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
    }
    friend bool operator==(const SparseOptional& a, std::nullopt_t) { return !a.has_value(); }
    template <typename U>
        requires isValue<const U&>
    friend bool operator==(const SparseOptional& a, const U& b)
    {
        return a.has_value() && *a == b;
    }

private:
    QSharedDataPointer<Box> m_box;
};

} // namespace lumra
