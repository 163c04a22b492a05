#pragma once
// A value or an error text: the codec reports bad input and impossible requests this way, never by throwing out.

#include <string>
#include <utility>
#include <variant>

namespace qev::wsq {

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
    const T& operator*() const& { return std::get<0>(m_v); }
    const std::string& error() const { return std::get<1>(m_v).message; }

private:
    std::variant<T, Error> m_v;
};

inline Error fail(std::string message) {
    return Error{std::move(message)};
}

} // namespace qev::wsq
