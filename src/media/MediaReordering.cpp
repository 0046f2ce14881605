#include "media/MediaReordering.h"

#include <algorithm>
#include <numeric>

namespace ovalis {

std::optional<MediaReordering::Move> MediaReordering::moveItems(int count, QList<int> indexes, int dropIndex)
{
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    if (count <= 0)
        return std::nullopt;
    if (std::any_of(indexes.cbegin(), indexes.cend(), [count](int index) { return index < 0 || index >= count; }))
        return std::nullopt;
    const int target = std::min(dropIndex, count);

    QList<int> remaining(count);
    std::iota(remaining.begin(), remaining.end(), 0);
    QList<int> moved;
    for (int k = 0; k < indexes.size(); ++k)
        moved.append(remaining.takeAt(indexes[k] - k));

    const auto below = std::count_if(indexes.cbegin(), indexes.cend(), [target](int index) { return index < target; });
    const int position = std::max(0, target - int(below));
    Move move;
    move.order = remaining.mid(0, position) + moved + remaining.mid(position);
    move.selectedPosition = position;
    return move;
}

} // namespace ovalis
