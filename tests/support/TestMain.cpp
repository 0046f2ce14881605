#include <QCoreApplication>
#include <QGuiApplication>
#ifdef OVALIS_WIDGET_TESTS
#include <QApplication>
#endif
#include <QLoggingCategory>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "util/Log.h"

// Every test executable runs inside a Qt application so that queued calls,
// timers and the main-thread notification delivery behave as in the program.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    ::testing::InitGoogleMock(&argc, argv);
#ifdef OVALIS_WIDGET_TESTS
    QApplication app(argc, argv);
#else
    QGuiApplication app(argc, argv);
#endif
    ovalis::Log::install();
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    return RUN_ALL_TESTS();
}
