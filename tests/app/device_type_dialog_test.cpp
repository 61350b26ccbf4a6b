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
        const TuningState tuning;
        std::atomic<DeviceType> type{DeviceType::GS};
        DeviceTypeDialog dialog(type, tuning, boxes);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Midi Device Setting"));
        QVERIFY(dialog.buttonOf(DeviceType::GS)->isChecked());
        QVERIFY(!dialog.buttonOf(DeviceType::XG)->isChecked());
        QCOMPARE(dialog.buttonOf(DeviceType::XG)->text(), QStringLiteral("XG"));
        QCOMPARE(dialog.okButton()->text(), QStringLiteral("OK"));
        QCOMPARE(dialog.findChildren<QPushButton*>().size(), 7);  // six types and OK, no Cancel
    }

    void mtsIsAFourthChoiceBesideTheOthersWithoutAWarning() {
        test::ScriptedDialogs boxes;
        const TuningState tuning;
        std::atomic<DeviceType> type{DeviceType::GM};
        DeviceTypeDialog dialog(type, tuning, boxes);
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
        DeviceTypeDialog again(type, tuning, boxes);
        QVERIFY(again.buttonOf(DeviceType::MTS)->isChecked());
    }

    void bendIsTheLastChoiceAndEveryNameShowsInFullWhenChosen() {
        test::ScriptedDialogs boxes;
        const TuningState tuning;
        std::atomic<DeviceType> type{DeviceType::GM};
        DeviceTypeDialog dialog(type, tuning, boxes);
        QPushButton* bend = dialog.buttonOf(DeviceType::Bend);
        QCOMPARE(bend->text(), QStringLiteral("Bend"));
        QVERIFY(bend->x() > dialog.buttonOf(DeviceType::MtsKeys)->geometry().right());
        QVERIFY(bend->geometry().right() < dialog.width());
        for (const char* name : {"XG", "GS", "GM", "MTS", "MTS keys", "Bend"}) {
            const auto chosen = deviceTypeFromName(name);
            QVERIFY(chosen);
            QPushButton* button = dialog.buttonOf(*chosen);
            QFont bold = button->font();  // a chosen button's name is drawn bold, its widest
            bold.setBold(true);
            QVERIFY2(QFontMetrics(bold).horizontalAdvance(button->text()) + 8 < button->width(),
                     name);
        }
        bend->click();
        dialog.okButton()->click();
        QCOMPARE(type.load(), DeviceType::Bend);
        QVERIFY(boxes.texts().empty());
    }

    void okTakesTheSelectedButton() {
        test::ScriptedDialogs boxes;
        const TuningState tuning;
        std::atomic<DeviceType> type{DeviceType::GM};
        DeviceTypeDialog dialog(type, tuning, boxes);
        dialog.buttonOf(DeviceType::XG)->click();
        QVERIFY(!dialog.buttonOf(DeviceType::GM)->isChecked());
        dialog.okButton()->click();
        QCOMPARE(type.load(), DeviceType::XG);
        QVERIFY(boxes.texts().empty());
    }

    void okWithGmWarnsEveryTime() {
        test::ScriptedDialogs boxes;
        const TuningState tuning;
        std::atomic<DeviceType> type{DeviceType::GM};
        for (int i = 0; i < 2; ++i) {
            DeviceTypeDialog dialog(type, tuning, boxes);
            dialog.okButton()->click();
        }
        QCOMPARE(boxes.texts(),
                 std::vector<std::string>(
                     2, "Setting of tuning will be ignored since you have selected GM."));
        QCOMPARE(boxes.boxes()[0].style, BoxStyle::SystemModal);
        QCOMPARE(type.load(), DeviceType::GM);
    }

    void aTypeThatCannotPlayTheScaleInForceSaysSoWhenChosen() {
        test::ScriptedDialogs boxes;
        TuningState tuning;
        auto scala = std::make_shared<ScalaInForce>();
        scala->noteCount = 19;
        scala->whyNotTwelve = "This scale has 19 notes";
        tuning.setScala(scala);
        std::atomic<DeviceType> type{DeviceType::GM};
        const auto choose = [&](DeviceType chosen) {
            boxes.clear();
            DeviceTypeDialog dialog(type, tuning, boxes);
            dialog.buttonOf(chosen)->click();
            dialog.okButton()->click();
            return boxes.texts();
        };
        const std::string refused = "This scale has 19 notes: choose MTS keys or Bend to play it.";
        QCOMPARE(choose(DeviceType::GS), std::vector<std::string>{refused});
        QCOMPARE(type.load(), DeviceType::GS);  // a notice, not a refusal
        QCOMPARE(choose(DeviceType::GM),
                 (std::vector<std::string>{
                     "Setting of tuning will be ignored since you have selected GM.", refused}));
        QVERIFY(choose(DeviceType::MtsKeys).empty());
        QVERIFY(choose(DeviceType::Bend).empty());
        scala->twelve = true;
        QVERIFY(choose(DeviceType::XG).empty());
    }

    void escapeKeepsTheValue() {
        test::ScriptedDialogs boxes;
        const TuningState tuning;
        std::atomic<DeviceType> type{DeviceType::GS};
        DeviceTypeDialog dialog(type, tuning, boxes);
        dialog.buttonOf(DeviceType::XG)->click();
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(type.load(), DeviceType::GS);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(DeviceTypeDialogTest)
#include "device_type_dialog_test.moc"
