#include <QPushButton>
#include <QtTest>

#include "app/device_type_dialog.h"
#include "support/scripted_dialogs.h"

using namespace pitchloom;

class DeviceTypeDialogTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheValueInForceAndItsTexts() {
        test::ScriptedDialogs boxes;
        std::atomic<DeviceType> type{DeviceType::GS};
        DeviceTypeDialog dialog(type, boxes);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Midi Device Setting"));
        QVERIFY(dialog.buttonOf(DeviceType::GS)->isChecked());
        QVERIFY(!dialog.buttonOf(DeviceType::XG)->isChecked());
        QCOMPARE(dialog.buttonOf(DeviceType::XG)->text(), QStringLiteral("XG"));
        QCOMPARE(dialog.okButton()->text(), QStringLiteral("OK"));
        QCOMPARE(dialog.findChildren<QPushButton*>().size(), 7);  // six types and OK, no Cancel
    }

    void mtsIsAFourthChoiceBesideTheOthersWithoutAWarning() {
        test::ScriptedDialogs boxes;
        std::atomic<DeviceType> type{DeviceType::GM};
        DeviceTypeDialog dialog(type, boxes);
        QCOMPARE(dialog.buttonOf(DeviceType::MTS)->text(), QStringLiteral("MTS"));
        QCOMPARE(dialog.buttonOf(DeviceType::MTS)->y(), dialog.buttonOf(DeviceType::XG)->y());
        QCOMPARE(dialog.buttonOf(DeviceType::MTS)->size(), dialog.buttonOf(DeviceType::GM)->size());
        QVERIFY(dialog.buttonOf(DeviceType::MTS)->x() >
                dialog.buttonOf(DeviceType::GM)->geometry().right());
        QVERIFY(dialog.buttonOf(DeviceType::MTS)->geometry().right() < dialog.width());
        dialog.buttonOf(DeviceType::MTS)->click();
        QVERIFY(!dialog.buttonOf(DeviceType::GM)->isChecked());
        dialog.okButton()->click();
        QCOMPARE(type.load(), DeviceType::MTS);
        QVERIFY(boxes.texts().empty());
        DeviceTypeDialog again(type, boxes);
        QVERIFY(again.buttonOf(DeviceType::MTS)->isChecked());
    }

    void bendIsAFifthChoiceWhoseNameShowsInFullWhenChosen() {
        test::ScriptedDialogs boxes;
        std::atomic<DeviceType> type{DeviceType::GM};
        DeviceTypeDialog dialog(type, boxes);
        QPushButton* bend = dialog.buttonOf(DeviceType::Bend);
        QCOMPARE(bend->text(), QStringLiteral("Bend"));
        QVERIFY(bend->x() > dialog.buttonOf(DeviceType::MTS)->geometry().right());
        QFont bold = bend->font();  // a chosen button's name is drawn bold, its widest
        bold.setBold(true);
        QVERIFY(QFontMetrics(bold).horizontalAdvance(bend->text()) + 8 < bend->width());
        bend->click();
        dialog.okButton()->click();
        QCOMPARE(type.load(), DeviceType::Bend);
        QVERIFY(boxes.texts().empty());
    }

    void okTakesTheSelectedButton() {
        test::ScriptedDialogs boxes;
        std::atomic<DeviceType> type{DeviceType::GM};
        DeviceTypeDialog dialog(type, boxes);
        dialog.buttonOf(DeviceType::XG)->click();
        QVERIFY(!dialog.buttonOf(DeviceType::GM)->isChecked());
        dialog.okButton()->click();
        QCOMPARE(type.load(), DeviceType::XG);
        QVERIFY(boxes.texts().empty());
    }

    void okWithGmWarnsEveryTime() {
        test::ScriptedDialogs boxes;
        std::atomic<DeviceType> type{DeviceType::GM};
        for (int i = 0; i < 2; ++i) {
            DeviceTypeDialog dialog(type, boxes);
            dialog.okButton()->click();
        }
        QCOMPARE(boxes.texts(),
                 std::vector<std::string>(
                     2, "Setting of tuning will be ignored since you have selected GM."));
        QCOMPARE(boxes.boxes()[0].style, BoxStyle::SystemModal);
        QCOMPARE(type.load(), DeviceType::GM);
    }

    void escapeKeepsTheValue() {
        test::ScriptedDialogs boxes;
        std::atomic<DeviceType> type{DeviceType::GS};
        DeviceTypeDialog dialog(type, boxes);
        dialog.buttonOf(DeviceType::XG)->click();
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(type.load(), DeviceType::GS);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(DeviceTypeDialogTest)
#include "device_type_dialog_test.moc"
