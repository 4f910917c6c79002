// Times of the history as text. Rows hold UTC in one fixed form ("2025-01-31T08:15:02.047Z"),
// which sorts as the times do; people read and type local times.
#pragma once

#include <optional>
#include <string>

namespace history {

// The UTC time now, in the rows' form.
std::string UtcNow();

// A row's UTC time as local time for people: "2025-01-31 09:15:02"; the text itself when it is
// not in the rows' form.
std::string LocalTimeText(const std::string& utc);
// The local day a row's UTC time falls on: "2025-01-31".
std::string LocalDay(const std::string& utc);

// What a person typed as a time, as a UTC bound in the rows' form. Takes a local day
// "2025-01-31" (its first moment; with `dayEnd`, the first moment of the next day, so that a
// day given as the end of a range is included), a local time "2025-01-31 09:15[:02]" (or with
// "T"), or a UTC time ending in "Z". Nullopt when it is none of these or no such time exists.
std::optional<std::string> UtcBound(const std::string& text, bool dayEnd);

}  // namespace history
