#pragma once

#include <QString>
#include <functional>

namespace ovalis {

class CoreDataStack;

// Fills a library with realistic synthetic cases: patient identifiers (some
// valid NHIs), dates, short summaries, details of a few hundred characters
// with some web links, tags of skewed popularity and media records, with
// small real image files when asked. Deterministic for a given seed.
class LibraryGenerator
{
public:
    struct Options {
        int cases = 1000;
        int tags = 50;
        int mediaPerCase = 3; // average
        quint64 seed = 1;
        bool withFiles = false;
        int batchSize = 5000;
    };

    explicit LibraryGenerator(CoreDataStack *stack); // Not owned.

    // Adds the records, saving in batches; progress(done, total) after each
    // batch. False with a message when a save failed (earlier batches stay).
    bool generate(const Options &options, QString *error,
                  const std::function<void(int done, int total)> &progress = {});

    // A valid NHI (three letters without I and O, three digits, check digit) for a number.
    static QString validNHI(quint64 number);

private:
    CoreDataStack *m_stack;
};

} // namespace ovalis
