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
        QVERIFY(dialog.gsButton()->isChecked());
        QVERIFY(!dialog.xgButton()->isChecked());
        QCOMPARE(dialog.xgButton()->text(), QStringLiteral("XG"));
        QCOMPARE(dialog.okButton()->text(), QStringLiteral("OK"));
        QVERIFY(dialog.findChildren<QPushButton*>().size() == 5);  // no Cancel
    }

    void mtsIsAFourthChoiceBesideTheOthersWithoutAWarning() {
        test::ScriptedDialogs boxes;
        std::atomic<DeviceType> type{DeviceType::GM};
        DeviceTypeDialog dialog(type, boxes);
        QCOMPARE(dialog.mtsButton()->text(), QStringLiteral("MTS"));
        QCOMPARE(dialog.mtsButton()->y(), dialog.xgButton()->y());
        QCOMPARE(dialog.mtsButton()->size(), dialog.gmButton()->size());
        QVERIFY(dialog.mtsButton()->x() > dialog.gmButton()->geometry().right());
        QVERIFY(dialog.mtsButton()->geometry().right() < dialog.width());
        dialog.mtsButton()->click();
        QVERIFY(!dialog.gmButton()->isChecked());
        dialog.okButton()->click();
        QCOMPARE(type.load(), DeviceType::MTS);
        QVERIFY(boxes.texts().empty());
        DeviceTypeDialog again(type, boxes);
        QVERIFY(again.mtsButton()->isChecked());
    }

    void okTakesTheSelectedButton() {
        test::ScriptedDialogs boxes;
        std::atomic<DeviceType> type{DeviceType::GM};
        DeviceTypeDialog dialog(type, boxes);
        dialog.xgButton()->click();
        QVERIFY(!dialog.gmButton()->isChecked());
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
        dialog.xgButton()->click();
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(type.load(), DeviceType::GS);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(DeviceTypeDialogTest)
#include "device_type_dialog_test.moc"
