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

// Either a value or the reason there is none. Decoders never throw; they answer one of these.
template <typename T> class Result {
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

} // namespace ombri
