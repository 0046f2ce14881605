#include "library/Randomiser.h"

#include <QRandomGenerator>
#include <QSet>

namespace ovalis {

Randomiser::Randomiser(RandomSource source)
    : m_source(source ? std::move(source) : RandomSource([] { return QRandomGenerator::system()->generate(); }))
{
}

Randomiser &Randomiser::shared()
{
    static Randomiser randomiser;
    return randomiser;
}

QList<Case *> Randomiser::shownCases() const
{
    return CaseReference::cases(m_shownCases);
}

Case *Randomiser::randomCase(const QList<Case *> &candidates)
{
    QSet<Case *> excluded;
    for (const CaseReference &shown : std::as_const(m_shownCases))
        if (Case *item = shown.get())
            excluded.insert(item);
    QList<Case *> remaining;
    for (Case *item : candidates) {
        if (!item || excluded.contains(item))
            continue;
        excluded.insert(item); // distinct
        remaining.append(item);
    }
    if (remaining.isEmpty())
        return nullptr;
    Case *picked = remaining[qsizetype(uniformIndex(quint32(remaining.size()), m_source))];
    m_shownCases.append(CaseReference(picked));
    return picked;
}

quint32 Randomiser::uniformIndex(quint32 bound, const RandomSource &source)
{
    Q_ASSERT(bound > 0);
    // 2^32 mod bound: the lowest draws, which would give the first indexes
    // one chance more than the others.
    const quint32 threshold = quint32(-bound) % bound;
    quint32 draw;
    do
        draw = source();
    while (draw < threshold);
    return draw % bound;
}

} // namespace ovalis
