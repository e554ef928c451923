#pragma once
// Picking from a combo box's drop-down list as a user does: the list drops
// down (the box's own drop-down handling runs), then the entry is chosen.

#include <QAbstractItemView>
#include <QComboBox>
#include <QStringList>
#include <QTest>

// alsoListed: entries put into the list while it is down, as if the system
// had offered them (a second serial port, say).
inline void PickFromList(QComboBox* box, const QString& text, const QStringList& alsoListed = {})
{
    box->showPopup();
    QAbstractItemView* view = box->view();
    QTRY_VERIFY(view->isVisible());
    box->addItems(alsoListed);
    const int row = box->findText(text);
    QVERIFY2(row >= 0, qPrintable(QStringLiteral("\"%1\" is not in the list").arg(text)));
    // The entry is chosen with the keyboard: an entry added while the list is
    // down may lie outside the popup as it was sized.
    view->setCurrentIndex(view->model()->index(row, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY(!view->isVisible());
}
