#pragma once

#include <QString>
#include <optional>
#include <stdexcept>
#include <type_traits>

// The sentence an engine call failed with (the what() of the std::runtime_error it threw,
// as the window would show it); empty when the call did not fail.
template <typename Call>
QString failureOf(Call&& call) {
    try {
        call();
    } catch (const std::runtime_error& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

// Runs an engine call the way the callers before exceptions did: its value (or true for a
// call without one), or std::nullopt (false) with `error` set to the sentence it failed with.
template <typename Call>
auto attempt(QString* error, Call&& call) {
    using Value = std::invoke_result_t<Call&>;
    error->clear();
    if constexpr (std::is_void_v<Value>) {
        *error = failureOf(call);
        return error->isEmpty();
    } else {
        std::optional<Value> value;
        *error = failureOf([&] { value.emplace(call()); });
        return value;
    }
}
