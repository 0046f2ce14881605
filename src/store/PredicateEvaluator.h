#pragma once

#include "store/PredicateNode.h"
#include "store/PredicateObject.h"

namespace ovalis {

// Evaluates a parsed predicate on an object in memory; the semantics are
// those documented on Predicate. Constant texts arrive folded from the parser,
// and stored texts compared with [cd] come from the object's fold cache, so a
// comparison allocates only for relationship lists and [c]/[d] folds.
class PredicateEvaluator
{
public:
    static bool evaluate(const PredicateNode &node, const PredicateObject &object);
};

} // namespace ovalis
