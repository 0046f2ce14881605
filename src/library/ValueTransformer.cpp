#include "library/ValueTransformer.h"

#include <QGuiApplication>
#include <QHash>
#include <QMutex>
#include <QPalette>

#include "util/ContrastRatio.h"

namespace ovalis {

namespace {

struct Registry {
    QMutex mutex;
    QHash<QString, ValueTransformer::Function> functions;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

// The store gives an absent text as a null QString; that counts as no value too.
bool isNoValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return true;
    return value.metaType().id() == QMetaType::QString && value.toString().isNull();
}

bool isBoolean(const QVariant &value)
{
    return value.metaType().id() == QMetaType::Bool;
}

// Without a graphical application (the command-line tool) the default palette.
QPalette applicationPalette()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::palette() : QPalette();
}

// The backgrounds text is read on: the lists' rows and the window.
QList<QColor> textBackgrounds(const QPalette &palette)
{
    return {palette.color(QPalette::Active, QPalette::Base), palette.color(QPalette::Active, QPalette::AlternateBase),
            palette.color(QPalette::Active, QPalette::Window)};
}

} // namespace

void ValueTransformer::registerTransformer(const QString &name, Function function)
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    r.functions.insert(name, std::move(function));
}

void ValueTransformer::registerStandardTransformers()
{
    registerTransformer(QStringLiteral("BooleanToLabelColorTransformer"), [](const QVariant &value) -> QVariant {
        if (isBoolean(value) && !value.toBool())
            return systemRed();
        return labelColor();
    });
    registerTransformer(QStringLiteral("BooleanToTagColorTransformer"), [](const QVariant &value) -> QVariant {
        if (!isBoolean(value))
            return systemRed();
        return value.toBool() ? accentLabelColor() : secondaryLabelColor();
    });
    registerTransformer(QStringLiteral("NilToRedColorTransformer"), [](const QVariant &value) -> QVariant {
        return isNoValue(value) ? QVariant(systemRed()) : QVariant();
    });
    registerTransformer(QStringLiteral("FirstLineTransformer"), [](const QVariant &value) -> QVariant {
        if (isNoValue(value) || value.metaType().id() != QMetaType::QString)
            return {};
        const QString text = value.toString();
        const qsizetype lineFeed = text.indexOf(QLatin1Char('\n'));
        return lineFeed < 0 ? text : QString(text.constData(), lineFeed);
    });
}

bool ValueTransformer::isRegistered(const QString &name)
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    return r.functions.contains(name);
}

QVariant ValueTransformer::transform(const QString &name, const QVariant &value)
{
    Function function;
    {
        Registry &r = registry();
        QMutexLocker lock(&r.mutex);
        function = r.functions.value(name);
    }
    return function ? function(value) : QVariant();
}

QColor ValueTransformer::systemRed()
{
    // Readable on light and dark backgrounds alike.
    return QColor(224, 27, 36);
}

QColor ValueTransformer::labelColor()
{
    return applicationPalette().color(QPalette::Active, QPalette::Text);
}

QColor ValueTransformer::secondaryLabelColor()
{
    const QPalette palette = applicationPalette();
    const QColor placeholder = palette.color(QPalette::Active, QPalette::PlaceholderText);
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    // Else half way between the text and its background.
    const QColor dimmed = placeholder.isValid() && placeholder != text
        ? ContrastRatio::composited(placeholder, base)
        : QColor((text.red() + base.red()) / 2, (text.green() + base.green()) / 2, (text.blue() + base.blue()) / 2);
    return ContrastRatio::readable(dimmed, textBackgrounds(palette));
}

QColor ValueTransformer::accentColor()
{
    return applicationPalette().color(QPalette::Active, QPalette::Highlight);
}

QColor ValueTransformer::accentLabelColor()
{
    const QPalette palette = applicationPalette();
    return ContrastRatio::readable(palette.color(QPalette::Active, QPalette::Highlight), textBackgrounds(palette));
}

} // namespace ovalis
