// The window on a real site: a whole building's converters answering at once,
// and whatever any other host on the LAN sends to the tool's port (the parsing
// before it is fuzzed: fuzz/).

#include "lbxform.h"
#include "support.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QRandomGenerator>
#include <QTest>

class SiteTest : public QObject
{
    Q_OBJECT

private slots:
    void aThousandConvertersInOneBurstAreAllListed();
    void aHostileHostCannotStopTheWindow();
};

// More answers than the system's default receive buffer holds.
void SiteTest::aThousandConvertersInOneBurstAreAllListed()
{
    SimulatorProcess simulator({QStringLiteral("--count"), QStringLiteral("1000")});
    QVERIFY(simulator.started());
    LBXForm form;
    form.show();
    auto *uuidBox = widget<QComboBox>(&form, "uuidBox");
    QTRY_COMPARE_WITH_TIMEOUT(uuidBox->count(), 1000, 30000);
    QCOMPARE(uuidBox->itemText(999), QStringLiteral("LBXSIM001000"));
    QVERIFY(uuidBox->view()->isVisible());
}

// Random bytes as large as a datagram gets, then an answer with a 64 KB uuid:
// the window lists it, cut to what an entry holds, and goes on listening.
void SiteTest::aHostileHostCannotStopTheWindow()
{
    FakeConverters converters(1);
    LBXForm form;
    form.show();
    QVERIFY(converters.waitForBroadcast());
    BoxCatcher boxes;
    QByteArray rubbish(65507, Qt::Uninitialized);
    for (char &byte : rubbish)
        byte = char(QRandomGenerator::global()->bounded(256));
    converters.send(0, rubbish);
    converters.send(0, R"({"ack":"lbx.info","arg":{"uuid":")" + QByteArray(65000, 'u') + R"("}})");
    converters.sendInfo(0, QStringLiteral("still listening"));
    auto *uuidBox = widget<QComboBox>(&form, "uuidBox");
    QTRY_COMPARE(uuidBox->count(), 2);
    QCOMPARE(uuidBox->itemText(0), QString(255, QLatin1Char('u')) + QChar(0x2026));
    QCOMPARE(uuidBox->itemText(1), QStringLiteral("still listening"));
    QCOMPARE(boxes.boxes.size(), 0);
}

QTEST_MAIN(SiteTest)
#include "tst_site.moc"
