#pragma once

#include <QComboBox>
#include <QTableView>
#include <QTest>

namespace ovalis::test {

// What a user does to the window's controls.

// Chooses the item with this data as the user does, so the pop-up's
// activated signal runs the row's action.
inline void choose(QComboBox *popUp, int data)
{
    const int index = popUp->findData(data);
    popUp->setCurrentIndex(index);
    emit popUp->activated(index);
}

// A double-click as the user makes it, after the click that selects.
inline void doubleClick(QTableView *table, const QPoint &position)
{
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, position);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, position);
}

} // namespace ovalis::test
