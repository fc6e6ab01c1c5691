// Placeholder expansion for log lines and event commands: "%title" and friends become values.
// Thread: any (pure function).
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace orvane::tracking {

/// Expands `format` with the (name, value) pairs given as one flat list: name 1, value 1,
/// name 2, value 2 ... Names match ignoring ASCII case; an empty name replaces nothing.
///
/// Without `quote` (log lines) the pairs are applied one after the other to the whole result,
/// so a value that contains the name of a later pair is expanded again.
///
/// With `quote` (event command lines) `format` is a command line as the event runner reads it,
/// and every value lands in it as exactly the text it holds, inside the word where the
/// placeholder stands: the line is expanded in one pass (a value is never expanded again), and
/// each value is escaped for the quoting in force at its placeholder, in a way that a POSIX
/// shell and the runner's word splitting read back alike:
///   - inside "...": \ " $ ` get a backslash ("%title" with Song\ gives "Song\\");
///   - inside '...': ' becomes '\'' and \ becomes '\\' (close, escaped character, reopen);
///   - outside quotes: the value is put in '...' as above, so blanks, ; | & and a leading -
///     stay inside the word (x%title with a b gives x'a b').
/// A backslash of the template in front of a placeholder outside quotes keeps the placeholder
/// as literal text. Two parts of the line take values as they are: a line beginning with
/// "http:" (the runner opens it whole as one address) and the program word before the first
/// blank (the runner takes it literally).
///
/// Throws orvane::EInvalidOperation "Replace(): Argument count must be even." for an odd list.
std::string Replace(std::string_view format, std::span<const std::string> values,
                    bool quote = false);
/// The same for values at hand: Replace(f, {"%title", title, "%channel", caption}).
std::string Replace(std::string_view format, std::initializer_list<std::string_view> values,
                    bool quote = false);
std::string Replace(std::string_view format, std::span<const std::string_view> values,
                    bool quote = false);

}  // namespace orvane::tracking
