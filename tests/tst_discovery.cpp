// Discovery as the technician sees it: the search, the list of converters that
// answer, and the detail view of the one selected. The test plays the converters.

#include "lbxform.h"
#include "support.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

class DiscoveryTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void oneSearchAtStartAndOnePerClick();
    void threeConvertersAnswer();
    void newUuidOpensTheDropDownRepeatedOneDoesNot();
    void sameConverterAnswersTwice();
    void searchWhilePopulatedStartsAfresh();
    void selectionStaysWhileOthersAnswer();
    void pickingAnEntryShowsItsRecord();
    void unappliedBaudIsResetByTheNextReply();
    void replyWithoutArg();
    void detailView_data();
    void detailView();

private:
    QComboBox *uuidBox() const { return widget<QComboBox>(form.get(), "uuidBox"); }
    QString label(const char *name) const { return widget<QLabel>(form.get(), name)->text(); }
    QString groups() const;
    void answer(int converter, const QByteArray &arg);

    std::unique_ptr<FakeConverters> converters;
    std::unique_ptr<LBXForm> form;
};

void DiscoveryTest::init()
{
    converters = std::make_unique<FakeConverters>(3);
    form = std::make_unique<LBXForm>();
    form->show();
    QVERIFY(converters->waitForBroadcast());
}

void DiscoveryTest::cleanup()
{
    form.reset();
    converters.reset();
}

QString DiscoveryTest::groups() const
{
    const bool config = widget<QGroupBox>(form.get(), "configGroup")->isEnabled();
    const bool system = widget<QGroupBox>(form.get(), "systemGroup")->isEnabled();
    if (config != system)
        return QStringLiteral("one enabled, one not");
    return config ? QStringLiteral("enabled") : QStringLiteral("disabled");
}

// Sends an info reply and waits until the tool has stored it.
void DiscoveryTest::answer(int converter, const QByteArray &arg)
{
    const int before = converters->unicastTotal();
    DebugLines debug;
    converters->send(converter, "{\"ack\":\"lbx.info\",\"arg\":" + arg + '}');
    QTRY_COMPARE(debug.lines.size(), 2);
    QCOMPARE(converters->unicastTotal(), before);
}

void DiscoveryTest::oneSearchAtStartAndOnePerClick()
{
    QCOMPARE(converters->broadcasts().size(), 1);
    QTest::mouseClick(widget<QPushButton>(form.get(), "searchBtn"), Qt::LeftButton);
    QVERIFY(converters->waitForBroadcast(2));
    QTest::mouseClick(widget<QPushButton>(form.get(), "searchBtn"), Qt::LeftButton);
    QVERIFY(converters->waitForBroadcast(3));
    // A datagram sent on loopback is queued for its listener before sendto()
    // returns, so any further search would already be counted here.
    QCOMPARE(converters->broadcasts().size(), 3);
    for (const Received &request : converters->broadcasts())
        QCOMPARE(request.bytes, QByteArray(Protocol::infoRequest));
    QCOMPARE(converters->unicastTotal(), 0);
}

void DiscoveryTest::threeConvertersAnswer()
{
    QCOMPARE(groups(), QStringLiteral("disabled"));
    converters->sendInfo(1, QStringLiteral("second-to-be-first"));
    converters->sendInfo(0, QStringLiteral("B"));
    converters->sendInfo(2, QStringLiteral("A"));
    QTRY_COMPARE(uuidBox()->count(), 3);
    QCOMPARE(uuidBox()->itemText(0), QStringLiteral("second-to-be-first"));
    QCOMPARE(uuidBox()->itemText(1), QStringLiteral("B"));
    QCOMPARE(uuidBox()->itemText(2), QStringLiteral("A"));
    QCOMPARE(uuidBox()->currentIndex(), 0);
    QCOMPARE(label("macLabel"), QStringLiteral("second-to-be-first"));
    QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.3"));
    QCOMPARE(label("versionLabel"), QStringLiteral("2.1(1.0.1)"));
    QCOMPARE(groups(), QStringLiteral("enabled"));
}

void DiscoveryTest::newUuidOpensTheDropDownRepeatedOneDoesNot()
{
    QWidget *popup = uuidBox()->view()->window();
    answer(0, R"({"uuid":"A"})");
    QVERIFY(popup->isVisible());
    uuidBox()->hidePopup();
    QTRY_VERIFY(!popup->isVisible());
    answer(1, R"({"uuid":"A"})");
    QVERIFY(!popup->isVisible());
    answer(2, R"({"uuid":"B"})");
    QVERIFY(popup->isVisible());
    // Every entry is on the open list.
    QCOMPARE(uuidBox()->view()->model()->rowCount(), 2);
}

void DiscoveryTest::sameConverterAnswersTwice()
{
    answer(
        0, R"({"uuid":"A","appVersion":1,"romVersion":"a","baud":9600,"pluginName":"OvCom485"})");
    answer(1, R"({"uuid":"A","appVersion":2,"romVersion":"b","baud":38400,"pluginName":"Net485"})");
    QCOMPARE(uuidBox()->count(), 1);
    QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.3"));
    QCOMPARE(label("versionLabel"), QStringLiteral("2(b)"));
    QCOMPARE(widget<QComboBox>(form.get(), "baudBox")->currentText(), QStringLiteral("38400"));
    QCOMPARE(widget<QComboBox>(form.get(), "pluginBox")->currentIndex(), 3);
}

void DiscoveryTest::searchWhilePopulatedStartsAfresh()
{
    answer(0,
        R"({"uuid":"A","appVersion":1.5,"romVersion":"2.0.1","baud":19200,"pluginName":"OvTcp485"})");
    answer(1, R"({"uuid":"B"})");
    QCOMPARE(groups(), QStringLiteral("enabled"));

    QTest::mouseClick(widget<QPushButton>(form.get(), "searchBtn"), Qt::LeftButton);
    // At once, before any converter has answered again.
    QCOMPARE(uuidBox()->count(), 0);
    QCOMPARE(groups(), QStringLiteral("disabled"));
    QCOMPARE(label("macLabel"), QString());
    QCOMPARE(label("ipLabel"), QString());
    QCOMPARE(label("versionLabel"), QStringLiteral("0()"));
    QCOMPARE(widget<QComboBox>(form.get(), "baudBox")->currentText(), QStringLiteral("19200"));
    QCOMPARE(widget<QComboBox>(form.get(), "pluginBox")->currentIndex(), 4);

    QVERIFY(converters->waitForBroadcast(2));
    answer(1, R"({"uuid":"B"})");
    QCOMPARE(uuidBox()->count(), 1);
    QCOMPARE(label("macLabel"), QStringLiteral("B"));
    QCOMPARE(groups(), QStringLiteral("enabled"));
}

void DiscoveryTest::selectionStaysWhileOthersAnswer()
{
    answer(0, R"({"uuid":"A","appVersion":1})");
    answer(1, R"({"uuid":"B","appVersion":2})");
    uuidBox()->hidePopup();
    QTest::keyClick(uuidBox(), Qt::Key_Down);
    QCOMPARE(uuidBox()->currentText(), QStringLiteral("B"));
    QCOMPARE(label("macLabel"), QStringLiteral("B"));

    answer(2, R"({"uuid":"C","appVersion":3})");
    QCOMPARE(uuidBox()->count(), 3);
    QVERIFY(uuidBox()->view()->window()->isVisible());
    QCOMPARE(label("macLabel"), QStringLiteral("B"));
    QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.3"));
    QCOMPARE(label("versionLabel"), QStringLiteral("2()"));
}

void DiscoveryTest::pickingAnEntryShowsItsRecord()
{
    answer(
        0, R"({"uuid":"A","appVersion":1,"romVersion":"x","baud":4800,"pluginName":"OvUdp485"})");
    answer(
        1, R"({"uuid":"B","appVersion":2,"romVersion":"y","baud":115200,"pluginName":"OvTcp485"})");
    uuidBox()->hidePopup();
    const int sentBefore = converters->unicastTotal() + converters->broadcasts().size();

    QTest::keyClick(uuidBox(), Qt::Key_Down);
    QCOMPARE(label("macLabel"), QStringLiteral("B"));
    QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.3"));
    QCOMPARE(label("versionLabel"), QStringLiteral("2(y)"));
    QCOMPARE(widget<QComboBox>(form.get(), "baudBox")->currentText(), QStringLiteral("115200"));
    QCOMPARE(widget<QComboBox>(form.get(), "pluginBox")->currentIndex(), 2);

    QTest::keyClick(uuidBox(), Qt::Key_Up);
    QCOMPARE(label("macLabel"), QStringLiteral("A"));
    QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.2"));
    QCOMPARE(label("versionLabel"), QStringLiteral("1(x)"));
    QCOMPARE(widget<QComboBox>(form.get(), "baudBox")->currentText(), QStringLiteral("4800"));
    QCOMPARE(widget<QComboBox>(form.get(), "pluginBox")->currentIndex(), 0);
    QCOMPARE(converters->unicastTotal() + converters->broadcasts().size(), sentBefore);
}

void DiscoveryTest::unappliedBaudIsResetByTheNextReply()
{
    answer(0, R"({"uuid":"A","baud":9600,"pluginName":"OvCom485"})");
    auto *baudBox = widget<QComboBox>(form.get(), "baudBox");
    auto *pluginBox = widget<QComboBox>(form.get(), "pluginBox");
    baudBox->setCurrentIndex(4);
    pluginBox->setCurrentIndex(3);
    answer(1, R"({"uuid":"other","baud":4800})");
    QCOMPARE(baudBox->currentText(), QStringLiteral("9600"));
    QCOMPARE(pluginBox->currentIndex(), 1);
}

void DiscoveryTest::replyWithoutArg()
{
    DebugLines debug;
    converters->send(2, R"({"ack":"lbx.info"})");
    QTRY_COMPARE(uuidBox()->count(), 1);
    QCOMPARE(uuidBox()->itemText(0), QString());
    QCOMPARE(label("macLabel"), QString());
    QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.4"));
    QCOMPARE(label("versionLabel"), QStringLiteral("0()"));
    QCOMPARE(widget<QComboBox>(form.get(), "pluginBox")->currentIndex(), 4);
    QCOMPARE(groups(), QStringLiteral("enabled"));
    QCOMPARE(debug.lines.at(1).message, QStringLiteral("QJsonObject()"));
}

// The reply's arg, and what the detail view then shows. A fresh window shows
// "4800" and the first protocol before the reply.
void DiscoveryTest::detailView_data()
{
    QTest::addColumn<QByteArray>("arg");
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("plugin");
    QTest::newRow("1.5 with 2.0.1") << QByteArray(
        R"({"uuid":"u1","appVersion":1.5,"romVersion":"2.0.1","baud":115200,"pluginName":"OvUdp485"})")
                                    << "u1"
                                    << "127.0.0.2"
                                    << "1.5(2.0.1)"
                                    << "115200" << 0;
    QTest::newRow("2.10 with 7") << QByteArray(
        R"({"uuid":"u2","appVersion":2.10,"romVersion":"7"})")
                                 << "u2"
                                 << "127.0.0.2"
                                 << "2.1(7)"
                                 << "4800" << 4;
    QTest::newRow("1250000") << QByteArray(R"({"uuid":"u3","appVersion":1250000,"romVersion":"1"})")
                             << "u3"
                             << "127.0.0.2"
                             << "1.25e+06(1)"
                             << "4800" << 4;
    QTest::newRow("empty record") << QByteArray("{}") << ""
                                  << "127.0.0.2"
                                  << "0()"
                                  << "4800" << 4;
    QTest::newRow("baud 9600.0") << QByteArray(R"({"uuid":"u","baud":9600.0})") << "u"
                                 << "127.0.0.2"
                                 << "0()"
                                 << "9600" << 4;
    QTest::newRow("baud 57600 not offered") << QByteArray(R"({"uuid":"u","baud":57600})") << "u"
                                            << "127.0.0.2"
                                            << "0()"
                                            << "4800" << 4;
    QTest::newRow("baud as text") << QByteArray(R"({"uuid":"u","baud":"9600"})") << "u"
                                  << "127.0.0.2"
                                  << "0()"
                                  << "4800" << 4;
    QTest::newRow("OvCom485") << QByteArray(R"({"uuid":"u","pluginName":"OvCom485"})") << "u"
                              << "127.0.0.2"
                              << "0()"
                              << "4800" << 1;
    QTest::newRow("OvTcp485") << QByteArray(R"({"uuid":"u","pluginName":"OvTcp485"})") << "u"
                              << "127.0.0.2"
                              << "0()"
                              << "4800" << 2;
    QTest::newRow("Net485") << QByteArray(R"({"uuid":"u","pluginName":"Net485"})") << "u"
                            << "127.0.0.2"
                            << "0()"
                            << "4800" << 3;
    QTest::newRow("unknown plug-in")
        << QByteArray(R"({"uuid":"u","pluginName":"OvUdp485 "})") << "u"
        << "127.0.0.2"
        << "0()"
        << "4800" << 4;
    QTest::newRow("its own ip") << QByteArray(R"({"uuid":"u","ip":"192.168.1.9"})") << "u"
                                << "127.0.0.2"
                                << "0()"
                                << "4800" << 4;
    QTest::newRow("wrong JSON types") << QByteArray(
        R"({"uuid":1,"appVersion":"1.5","romVersion":[1],"baud":true,"pluginName":{}})")
                                      << ""
                                      << "127.0.0.2"
                                      << "0()"
                                      << "4800" << 4;
}

void DiscoveryTest::detailView()
{
    QFETCH(QByteArray, arg);
    answer(0, arg);
    QTEST(label("macLabel"), "uuid");
    QTEST(label("ipLabel"), "ip");
    QTEST(label("versionLabel"), "version");
    QTEST(widget<QComboBox>(form.get(), "baudBox")->currentText(), "baud");
    QTEST(widget<QComboBox>(form.get(), "pluginBox")->currentIndex(), "plugin");
    QCOMPARE(groups(), QStringLiteral("enabled"));
}

QTEST_MAIN(DiscoveryTest)
#include "tst_discovery.moc"
