#pragma once

#include <optional>
#include <string>
#include <utility>

namespace ombri {

// A printable reason why an operation produced nothing.
struct Failure {
    std::string reason;
};

inline Failure fail(std::string reason)
{
    return Failure{std::move(reason)};
}

// Either a value or the reason there is none. Readers and writers never throw; they answer one
// of these, and a caller cannot drop it unread.
template <typename T> class [[nodiscard]] Result {
  public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Failure failure) : m_error(std::move(failure.reason)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    T& value() { return *m_value; }
    const T& value() const { return *m_value; }
    T take() { return std::move(*m_value); }
    const std::string& error() const { return m_error; }

  private:
    std::optional<T> m_value;
    std::string m_error;
};

// The answer of an operation whose product is a file rather than a value: done, or the reason
// it was not.
template <> class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure failure) : m_failed(true), m_error(std::move(failure.reason)) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return m_error; }

  private:
    bool m_failed = false;
    std::string m_error;
};

using Status = Result<void>;

} // namespace ombri
