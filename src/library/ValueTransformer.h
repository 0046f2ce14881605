#pragma once

#include <QColor>
#include <QString>
#include <QVariant>
#include <functional>

namespace ovalis {

// Named one-way mappings from a value to a colour or a text, used by the
// list models' colour and display roles.
class ValueTransformer
{
public:
    using Function = std::function<QVariant(const QVariant &)>;

    static void registerTransformer(const QString &name, Function function);
    // Registers "BooleanToLabelColorTransformer", "BooleanToTagColorTransformer",
    // "NilToRedColorTransformer" and "FirstLineTransformer". Safe to call again.
    static void registerStandardTransformers();
    static bool isRegistered(const QString &name);
    // The transformed value; an invalid QVariant for "no value" and for an
    // unregistered name.
    static QVariant transform(const QString &name, const QVariant &value);

    // The colours the transformers answer, from the application palette.
    // The derived text colours reach ContrastRatio::readableText on the
    // lists' rows (base and alternate base) and on the window.
    static QColor systemRed();
    static QColor labelColor();
    // Dimmed text: as dim as the palette's placeholder text, but readable.
    static QColor secondaryLabelColor();
    // The accent (selection) colour, as a fill.
    static QColor accentColor();
    // The accent as text on the lists' rows.
    static QColor accentLabelColor();
};

} // namespace ovalis
