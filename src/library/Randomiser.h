#pragma once

#include <QList>
#include <functional>

#include "library/CaseReference.h"

namespace ovalis {

class Case;

// Picks cases for teaching: each case at most once in a run of the
// application, uniformly among those not picked yet. Not saved. Used on the
// main thread.
class Randomiser
{
public:
    // Uniformly distributed 32-bit values.
    using RandomSource = std::function<quint32()>;

    // Draws from the system's random source unless given another.
    explicit Randomiser(RandomSource source = {});

    // The application's randomiser, made on first use.
    static Randomiser &shared();

    // Every case answered so far, in the order answered; never cleared.
    // nullptr for one whose library is gone.
    QList<Case *> shownCases() const;

    // One of the distinct candidates not answered before, chosen uniformly
    // at random and remembered as shown; nullptr, changing nothing, when
    // every candidate has been answered already.
    Case *randomCase(const QList<Case *> &candidates);

    // A uniformly chosen index below bound (which must be above 0). A draw
    // from the part of the source's range that would make low indexes more
    // likely is rejected and drawn again.
    static quint32 uniformIndex(quint32 bound, const RandomSource &source);

private:
    RandomSource m_source;
    QList<CaseReference> m_shownCases;
};

} // namespace ovalis
