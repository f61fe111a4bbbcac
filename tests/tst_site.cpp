// The window on a real site: a whole building's converters answering at once,
// and whatever any other host on the LAN sends to the tool's port.

#include "lbxform.h"
#include "support.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray nested(int depth)
{
    return QByteArray(R"({"ack":"lbx.info","arg":)") + QByteArray(depth, '[')
        + QByteArray(depth, ']') + '}';
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

} // namespace

class SiteTest : public QObject
{
    Q_OBJECT

private slots:
    void aThousandConvertersInOneBurstAreAllListed();
    void datagramsFromAnyHost_data();
    void datagramsFromAnyHost();
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

void SiteTest::datagramsFromAnyHost_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("random bytes, largest datagram") << randomBytes(65507);
    QTest::newRow("largest info reply") << QByteArray(R"({"ack":"lbx.info","arg":{"uuid":")")
            + QByteArray(65507 - 40, 'u') + R"("}})";
    QTest::newRow("nested 30,000 deep") << nested(30000);
    QTest::newRow("invalid UTF-8")
        << QByteArray("{\"ack\":\"lbx.info\",\"arg\":{\"uuid\":\"\xff\xfe\xc0\xaf\"}}");
    QTest::newRow("every type in every member") << QByteArray(
        R"({"ack":"lbx.info","arg":{"uuid":[],"romVersion":{},"appVersion":"x","baud":null,)"
        R"("pluginName":true,"ip":7}})");
    QTest::newRow("a member named twice")
        << QByteArray(R"({"ack":"lbx.info","arg":{"uuid":"a","uuid":[1]}})");
}

// Each is sent, then an ordinary reply: the window logs both and lists the second.
void SiteTest::datagramsFromAnyHost()
{
    QFETCH(QByteArray, datagram);
    FakeConverters converters(1);
    LBXForm form;
    form.show();
    QVERIFY(converters.waitForBroadcast());
    BoxCatcher boxes;
    DebugLines debug;
    converters.send(0, datagram);
    converters.sendInfo(0, QStringLiteral("still listening"));
    QTRY_COMPARE(debug.withWord(QStringLiteral("onRecvData")).size(), 2);
    QTRY_VERIFY(
        widget<QComboBox>(&form, "uuidBox")->findText(QStringLiteral("still listening")) >= 0);
    QCOMPARE(boxes.boxes.size(), 0);
}

QTEST_MAIN(SiteTest)
#include "tst_site.moc"
