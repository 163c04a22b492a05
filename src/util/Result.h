#pragma once
// A value or an error text: the engine, the codecs and the parsers report expected failures this way instead of
// throwing.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace qev {

struct Error {
    std::string message;
};

template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : m_v(std::move(value)) {}
    Result(Error e) : m_v(std::move(e)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(m_v); }
    const T& value() const& { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    T* operator->() { return &std::get<0>(m_v); }
    const T* operator->() const { return &std::get<0>(m_v); }
    T& operator*() & { return std::get<0>(m_v); }
    T&& operator*() && { return std::get<0>(std::move(m_v)); }
    const std::string& error() const { return std::get<1>(m_v).message; }

private:
    std::variant<T, Error> m_v;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error e) : m_err(std::move(e.message)) {}

    bool ok() const { return !m_err.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return *m_err; }

private:
    std::optional<std::string> m_err;
};

inline Error fail(std::string message) {
    return Error{std::move(message)};
}

} // namespace qev
