#include <QtTest>

#include "ui/skin_sets.h"

using namespace pitchloom;

namespace {

// The caption is the darkest ink on a white face; antialiasing only lightens its edges.
bool hasColour(const QPixmap& pixmap, const QColor& colour) {
    const QImage image = pixmap.toImage();
    QColor darkest = Qt::white;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.lightness() < darkest.lightness()) darkest = c;
        }
    }
    return std::abs(darkest.red() - colour.red()) <= 12 &&
           std::abs(darkest.green() - colour.green()) <= 12 &&
           std::abs(darkest.blue() - colour.blue()) <= 12;
}

}  // namespace

class SkinSetsTest : public QObject {
    Q_OBJECT

    QWidget* parent_ = nullptr;
    std::vector<int> commands_;
    std::vector<int> releases_;

private slots:
    void init() {
        parent_ = new QWidget;
        parent_->resize(400, 200);
        commands_.clear();
        releases_.clear();
    }
    void cleanup() { delete parent_; }

    void buttonCommandRunsOnThePressAndTheFaceFollowsTheMouse() {
        SkinButtonSet set;
        auto* w = new SkinWindow(parent_);
        set.create([this](int i) { commands_.push_back(i); },
                   [this](int i) { releases_.push_back(i); }, w, QRect(10, 10, 115, 32),
                   QStringLiteral("     Play"), 136, 135, -1);
        w->setIndex(0);
        parent_->show();
        QVERIFY(QTest::qWaitForWindowExposed(parent_));

        QTest::mousePress(w, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(commands_, std::vector<int>{0});
        QVERIFY(set.isPressed(0));
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!set.isPressed(0));
        QCOMPARE(commands_.size(), std::size_t{1});
        QCOMPARE(releases_, std::vector<int>{0});
    }

    void leavingWhilePressedReleasesTheFaceOnce() {
        SkinButtonSet set;
        auto* w = new SkinWindow(parent_);
        set.create([this](int i) { commands_.push_back(i); },
                   [this](int i) { releases_.push_back(i); }, w, QRect(10, 10, 115, 32),
                   QStringLiteral("     Type"), 136, 135, -1);
        w->setIndex(0);
        parent_->show();
        QVERIFY(QTest::qWaitForWindowExposed(parent_));
        QTest::mousePress(w, Qt::LeftButton, {}, QPoint(5, 5));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w, &leave);
        QVERIFY(!set.isPressed(0));
        QCOMPARE(releases_, std::vector<int>{0});
        // The release outside the window reaches no handler.
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(300, 150));
        QCOMPARE(releases_.size(), std::size_t{1});
        QCOMPARE(commands_.size(), std::size_t{1});
    }

    void windowWithoutIndexDoesNothing() {
        SkinButtonSet set;
        auto* w = new SkinWindow(parent_);
        set.create([this](int i) { commands_.push_back(i); }, {}, w, QRect(0, 0, 50, 20), {}, 136,
                   135, -1);
        parent_->show();
        QTest::mouseClick(w, Qt::LeftButton);
        QVERIFY(commands_.empty());
    }

    void keyTogglesBeforeTheCommandAndShowsWhatTheCommandLeft() {
        SkinKeySet set;
        auto* w = new SkinWindow(parent_);
        bool seenLitInCommand = true;
        set.create(
            [&](int i) {
                seenLitInCommand = set.isLit(i);
                set.setLit(i, true);  // a command that refuses the change lights it again
            },
            {}, w, QRect(0, 0, 45, 78), QStringLiteral("  C"), 140, 139, 0);
        set.setLit(0, true);
        parent_->show();
        QTest::mouseClick(w, Qt::LeftButton);
        QVERIFY(!seenLitInCommand);
        QVERIFY(set.isLit(0));
        QCOMPARE(w->face().toImage(), set.surface(0).toImage());
    }

    void setCaptionFindsTheWindowIndexAndChangesTheScreenOnlyOnPresent() {
        SkinButtonSet set;
        auto* a = new SkinWindow(parent_);
        auto* b = new SkinWindow(parent_);
        set.create({}, {}, a, QRect(0, 0, 115, 32), QStringLiteral("     Play"), 136, 135, -1);
        a->setIndex(7);
        set.add(b, QRect(0, 40, 115, 32), QStringLiteral("     Help"), 136, 135, -1);
        b->setIndex(3);
        set.paintAll();
        const QImage shown = b->face().toImage();

        set.setCaption(42, QStringLiteral("nothing"));
        QCOMPARE(set.caption(0), QStringLiteral("     Play"));
        QCOMPARE(set.caption(1), QStringLiteral("     Help"));

        set.setCaption(3, QStringLiteral("     Stop"));
        QCOMPARE(set.caption(1), QStringLiteral("     Stop"));
        QCOMPARE(b->face().toImage(), shown);  // the old face until the next present
        set.paintAll();
        QVERIFY(b->face().toImage() != shown);
    }

    void captionColourFollowsTheWindowState() {
        SkinButtonSet set;
        auto* w = new SkinWindow(parent_);
        set.create({}, {}, w, QRect(0, 0, 115, 32), QStringLiteral("WWWW"), 0, 0, -1);
        w->setIndex(0);
        QVERIFY(hasColour(set.surface(0), QColor(0, 100, 0)));
        w->setEnabled(false);
        set.setCaption(0, QStringLiteral("WWWW"));
        QVERIFY(hasColour(set.surface(0), QColor(100, 100, 50)));
        QVERIFY(!hasColour(set.surface(0), QColor(0, 100, 0)));
    }
};

QTEST_MAIN(SkinSetsTest)
#include "skin_sets_test.moc"
