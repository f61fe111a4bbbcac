// The label "ip" shows this computer's IPv4 address, as the sandbox sets it up:
// 10.77.0.1 on its veth end, or "0.0.0.0" where only loopback is up.

#include "lbxform.h"
#include "support.h"

#include <QLabel>
#include <QTest>

class LocalAddressTest : public QObject
{
    Q_OBJECT

private slots:
    void labelShowsTheSandboxAddress()
    {
        const QString expected = qEnvironmentVariable("LBX_EXPECTED_LOCAL_ADDRESS");
        QVERIFY2(!expected.isEmpty(), "LBX_EXPECTED_LOCAL_ADDRESS is not set");
        QCOMPARE(localAddressText(), expected);
        LBXForm form;
        QCOMPARE(widget<QLabel>(&form, "ip")->text(), expected);
        const QNetworkAddressEntry entry = localAddressEntry();
        QCOMPARE(entry.ip().isNull(), expected == QLatin1String("0.0.0.0"));
    }
};

QTEST_MAIN(LocalAddressTest)
#include "tst_localaddress.moc"
