#pragma once

#include <QList>
#include <optional>

namespace ovalis {

// The arithmetic of dragging some of a case's media to a new place in its
// order, apart from the records themselves.
class MediaReordering
{
public:
    struct Move {
        // The new order, as positions in the old one.
        QList<int> order;
        // Where the first moved item now stands; the grid selects it.
        int selectedPosition = 0;
    };

    // The dragged indexes (positions in a list of count items, in any order)
    // move as a block, in ascending order, to dropIndex: a position between
    // items of the old list, count meaning the end. Nothing when the list is
    // empty or an index lies outside it. An index dragged twice moves once.
    static std::optional<Move> moveItems(int count, QList<int> indexes, int dropIndex);
};

} // namespace ovalis
