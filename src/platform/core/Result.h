#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace lumra {

// Success, or a message saying what went wrong. Writes, grabs and file operations return
// this so that a failure cannot be mistaken for success.
class [[nodiscard]] Status {
public:
    Status() = default;
    static Status failure(QString message) { Status s; s.m_error = std::move(message); return s; }

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    QString error() const { return m_error.value_or(QString()); }

private:
    std::optional<QString> m_error;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) { }
    static Result failure(QString message) { Result r; r.m_error = std::move(message); return r; }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *m_value; }
    T& value() & { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    const T* operator->() const { return &*m_value; }
    const T& operator*() const { return *m_value; }
    QString error() const { return m_error; }
    Status status() const { return ok() ? Status() : Status::failure(m_error); }

private:
    Result() = default;
    std::optional<T> m_value;
    QString m_error;
};

} // namespace lumra
