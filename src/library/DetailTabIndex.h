#pragma once

#include <optional>

namespace ovalis {

// The tabs of the library window's detail side, by position.
enum class DetailTabIndex { casesInfo = 0, preview = 1, links = 2 };

// The tab at a raw position; none outside 0 to 2.
inline std::optional<DetailTabIndex> detailTabIndex(int rawValue)
{
    if (rawValue < int(DetailTabIndex::casesInfo) || rawValue > int(DetailTabIndex::links))
        return std::nullopt;
    return DetailTabIndex(rawValue);
}

} // namespace ovalis
