// Placeholder expansion for log lines and event commands: "%title" and friends become values.
// Thread: any (pure function).
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace orvane::tracking {

/// Expands `format` with the (name, value) pairs given as one flat list: name 1, value 1,
/// name 2, value 2 ... The pairs are applied one after the other to the whole result, so a value
/// that contains the name of a later pair is expanded again. Names match ignoring ASCII case;
/// every occurrence is replaced, scanning on after the inserted value; an empty name replaces
/// nothing. With `quote`, each value first gets "'" turned into "\'" and then '"' into '\"'.
/// Throws orvane::EInvalidOperation "Replace(): Argument count must be even." for an odd list.
std::string Replace(std::string_view format, std::span<const std::string> values,
                    bool quote = false);
/// The same for values at hand: Replace(f, {"%title", title, "%channel", caption}).
std::string Replace(std::string_view format, std::initializer_list<std::string_view> values,
                    bool quote = false);
std::string Replace(std::string_view format, std::span<const std::string_view> values,
                    bool quote = false);

}  // namespace orvane::tracking
