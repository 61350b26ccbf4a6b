#include <QFile>
#include <QPushButton>
#include <QtTest>

#include <fstream>
#include <regex>
#include <sstream>

#include "app/device_type_dialog.h"
#include "cli/convert_tool.h"
#include "support/scripted_dialogs.h"
#include "tuning/dialect.h"

using namespace pitchloom;

namespace {

std::string helpPage(const char* name) {
    QFile page(QStringLiteral(":/help/") + QString::fromLatin1(name));
    if (!page.open(QIODevice::ReadOnly)) return {};
    return page.readAll().toStdString();
}

// The man page as text, its line breaks and escapes gone.
std::string manPage() {
    std::ifstream in(PITCHLOOM_SOURCE_DIR "/docs/man/pitchloom-convert.1");
    std::stringstream text;
    text << in.rdbuf();
    return std::regex_replace(text.str(), std::regex(R"(\\)"), "");
}

std::string run(std::vector<const char*> args) {
    std::ostringstream out;
    std::ostringstream err;
    args.insert(args.begin(), "pitchloom-convert");
    runConvertTool(static_cast<int>(args.size()), args.data(), out, err, false);
    return out.str() + err.str();
}

}  // namespace

class DialectTableTest : public QObject {
    Q_OBJECT

private slots:
    // Every consumer of the table knows every entry, by its name and its description.
    void everyDialectIsKnownWhereverTypesAreListed() {
        test::ScriptedDialogs boxes;
        const TuningState tuning;
        std::atomic<DeviceType> type{DeviceType()};
        DeviceTypeDialog dialog(type, tuning, boxes);
        const std::string list = run({"--list"});
        const std::string help = run({"--help"});
        const std::string refused = run({"--type", "NONE", "a.mid", "b.mid"});
        const std::string devices = helpPage("devices.htm");
        const std::string man = manPage();
        int buttonsInARow = 0;
        for (const Dialect& d : dialects()) {
            const std::string name(d.name);
            const std::string description(d.description);
            QCOMPARE(deviceTypeFromName(d.name), std::optional(d.type));
            QCOMPARE(dialog.buttonOf(d.type)->text().toStdString(), name);
            if (dialog.buttonOf(d.type)->y() == dialog.buttonOf(dialects()[0].type)->y()) {
                ++buttonsInARow;
            }
            QVERIFY(dialog.buttonOf(d.type)->geometry().right() < dialog.width());
            QVERIFY2(list.find(name + "  " + description + "\n") != std::string::npos,
                     d.name.data());
            // The command line names a type of two words in one ("MTS-keys").
            QVERIFY2(help.find(commandLineName(d.type)) != std::string::npos, d.name.data());
            QVERIFY2(refused.find(commandLineName(d.type)) != std::string::npos, d.name.data());
            QCOMPARE(deviceTypeFromName(commandLineName(d.type)), std::optional(d.type));
            QVERIFY2(man.find(name + "  " + description + "\n") != std::string::npos,
                     d.name.data());
            QVERIFY2(devices.find("<b>" + name + "</b>") != std::string::npos, d.name.data());
            QVERIFY2(devices.find(description) != std::string::npos, d.name.data());
            for (const char* page : {"index.htm", "window.htm"}) {
                QVERIFY2(helpPage(page).find(name) != std::string::npos, page);
            }
        }
        QCOMPARE(buttonsInARow, static_cast<int>(dialects().size()));
        QCOMPARE(dialog.findChildren<QPushButton*>().size(), dialects().size() + 1);  // and OK
    }
};

QTEST_MAIN(DialectTableTest)
#include "dialect_table_test.moc"
