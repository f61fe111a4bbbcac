// The technician at the window: the search, the list of converters that answer,
// the detail view, the commands and the boxes that answers open, with the debug
// lines each step leaves. The test plays three converters on real sockets.

#include "lbxform.h"
#include "support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QNetworkDatagram>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(BoxCatcher::Answer)

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void searchAtStartAndOnEachClick();
    void threeConvertersAnswer();
    void commandGoesToTheSelectedConverterOnly_data();
    void commandGoesToTheSelectedConverterOnly();
    void factoryResetNotConfirmed_data();
    void factoryResetNotConfirmed();
    void newConverterWhileTheConfirmationIsOpen();
    void commandToAnUnreadableAddressIsNotSent();
    void replyOpensItsBox_data();
    void replyOpensItsBox();
    void floodOfReplies();

private:
    QComboBox *box(const char *name) const { return widget<QComboBox>(form.get(), name); }
    QPushButton *button(const char *name) const { return widget<QPushButton>(form.get(), name); }
    QString label(const char *name) const { return widget<QLabel>(form.get(), name)->text(); }
    bool enabled() const;
    // Two converters answer, and the technician picks the second one.
    void listTwoAndPickTheSecond();
    int received() const { return debug->withWord(QStringLiteral("onRecvData")).size(); }

    std::unique_ptr<DebugLines> debug;
    std::unique_ptr<FakeConverters> converters;
    std::unique_ptr<LBXForm> form;
};

void WindowTest::init()
{
    debug = std::make_unique<DebugLines>();
    converters = std::make_unique<FakeConverters>(3);
    form = std::make_unique<LBXForm>();
    form->show();
    QVERIFY(converters->waitForBroadcast());
}

void WindowTest::cleanup()
{
    form.reset();
    converters.reset();
    debug.reset();
}

bool WindowTest::enabled() const
{
    const bool config = widget<QGroupBox>(form.get(), "configGroup")->isEnabled();
    const bool system = widget<QGroupBox>(form.get(), "systemGroup")->isEnabled();
    return config && system;
}

void WindowTest::listTwoAndPickTheSecond()
{
    converters->send(0, R"({"ack":"lbx.info","arg":{"uuid":"first","baud":9600}})");
    converters->send(1, R"({"ack":"lbx.info","arg":{"uuid":"second","baud":9600}})");
    QTRY_COMPARE(box("uuidBox")->count(), 2);
    pickEntry(box("uuidBox"), 1);
    debug->lines.clear();
}

void WindowTest::searchAtStartAndOnEachClick()
{
    QCOMPARE(converters->broadcasts().constFirst().bytes, QByteArray(R"({"call":"lbx.info"})"));
    // This computer's address on the sandbox's adapter.
    QCOMPARE(label("ip"), QStringLiteral("10.77.0.1"));
    QCOMPARE(debug->lines.size(), 2);
    const DebugLine search = debug->lines.at(0);
    QCOMPARE(search.message, QStringLiteral("search"));
    QCOMPARE(search.line, 61);
    QCOMPARE(search.function, QStringLiteral("void LBXForm::search()"));
    const DebugLine send = debug->lines.at(1);
    QCOMPARE(send.message,
        QStringLiteral(R"(sendData "{\"call\":\"lbx.info\"}" "255.255.255.255" 12166)"));
    QCOMPARE(send.line, 126);
    QCOMPARE(send.function,
        QStringLiteral("void LBXForm::sendData(const QByteArray&, const QHostAddress&, quint16)"));

    converters->sendInfo(0, QStringLiteral("A"));
    QTRY_COMPARE(box("uuidBox")->count(), 1);
    QVERIFY(enabled());
    QTest::mouseClick(button("searchBtn"), Qt::LeftButton);
    // At once, before any converter has answered again.
    QCOMPARE(box("uuidBox")->count(), 0);
    QVERIFY(!enabled());
    QCOMPARE(label("macLabel"), QString());
    QVERIFY(converters->waitForBroadcast(2));
    // A datagram sent on loopback is queued for its listener before sendto()
    // returns: any further request would be counted here already.
    QCOMPARE(converters->broadcasts().size(), 2);
    QCOMPARE(converters->unicastTotal(), 0);
}

// Sent back to back, with rubbish between them: every datagram is logged in
// arrival order, and only the info replies are listed, each uuid once.
void WindowTest::threeConvertersAnswer()
{
    QVERIFY(!enabled());
    const QList<QByteArray> datagrams = {
        R"({"ack":"lbx.info","arg":{"uuid":"B","ip":"1.2.3.4","appVersion":2.5,"romVersion":"r"}})",
        "not JSON",
        "",
        R"({"ack":"lbx.info","arg":{"uuid":"A"}})",
        R"({"ack":"lbx.info","arg":{"uuid":"B","appVersion":2.6,"romVersion":"s","ip":"9.9.9.9"}})",
    };
    debug->lines.clear();
    for (int n = 0; n < datagrams.size(); ++n)
        converters->send(n % 3, datagrams.at(n));
    QTRY_COMPARE(received(), 4);
    QVERIFY(box("uuidBox")->view()->isVisible());
    QCOMPARE(box("uuidBox")->count(), 2);
    QCOMPARE(box("uuidBox")->itemText(0), QStringLiteral("B"));
    QCOMPARE(box("uuidBox")->itemText(1), QStringLiteral("A"));
    QVERIFY(enabled());
    // The later answer for B counts, with the address it came from, not its own.
    QCOMPARE(label("macLabel"), QStringLiteral("B"));
    QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.3"));
    QCOMPARE(label("versionLabel"), QStringLiteral("2.6(s)"));

    QStringList messages;
    for (const DebugLine &line : qAsConst(debug->lines)) {
        messages.append(line.message);
        QCOMPARE(line.line, line.message.startsWith(QStringLiteral("onRecvData")) ? 138 : 145);
        QCOMPARE(line.function, QStringLiteral("void LBXForm::onRecvData()"));
    }
    // An info reply's arg is logged as the converter sent it, its "ip" too.
    QCOMPARE(messages,
        QStringList({R"(onRecvData "{\"ack\":\"lbx.info\",\"arg\":{\"uuid\":\"B\",\"ip\":\"1.2.3.4\",)"
                     R"(\"appVersion\":2.5,\"romVersion\":\"r\"}}")",
            R"(QJsonObject({"appVersion":2.5,"ip":"1.2.3.4","romVersion":"r","uuid":"B"}))",
            R"(onRecvData "not JSON")",
            R"(onRecvData "{\"ack\":\"lbx.info\",\"arg\":{\"uuid\":\"A\"}}")",
            R"(QJsonObject({"uuid":"A"}))",
            R"(onRecvData "{\"ack\":\"lbx.info\",\"arg\":{\"uuid\":\"B\",\"appVersion\":2.6,\"romVersion\":\"s\",\"ip\":\"9.9.9.9\"}}")",
            R"(QJsonObject({"appVersion":2.6,"ip":"9.9.9.9","romVersion":"s","uuid":"B"}))"}));
}

void WindowTest::commandGoesToTheSelectedConverterOnly_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("plugin");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("function"); // of the first debug line, and its line
    QTest::addColumn<int>("line");
    QTest::newRow("apply 4800, network bytes")
        << "configBtn" << 0 << 0
        << QByteArray(R"({"arg":{"baud":4800,"pluginName":"OvUdp485"},"call":"lbx.set"})")
        << "config" << 120;
    QTest::newRow("apply 115200, JSON")
        << "configBtn" << 4 << 2
        << QByteArray(R"({"arg":{"baud":115200,"pluginName":"OvTcp485"},"call":"lbx.set"})")
        << "config" << 120;
    QTest::newRow("upload log") << "uploadLogBtn" << 0 << 0
                                << QByteArray(R"({"call":"lbx.uploadLog"})") << "uploadLog" << 80;
    QTest::newRow("update") << "updateBtn" << 0 << 0 << QByteArray(R"({"call":"lbx.update"})")
                            << "updateApp" << 73;
    QTest::newRow("factory reset, Yes")
        << "factoryBtn" << 0 << 0 << QByteArray(R"({"call":"lbx.factory"})") << "factory" << 87;
}

void WindowTest::commandGoesToTheSelectedConverterOnly()
{
    QFETCH(QString, buttonName);
    QFETCH(int, baud);
    QFETCH(int, plugin);
    QFETCH(QByteArray, datagram);
    QFETCH(QString, function);
    listTwoAndPickTheSecond();
    box("baudBox")->setCurrentIndex(baud);
    box("pluginBox")->setCurrentIndex(plugin);
    BoxCatcher boxes(BoxCatcher::press(QMessageBox::Yes));
    QTest::mouseClick(button(qPrintable(buttonName)), Qt::LeftButton);

    QTRY_COMPARE(converters->unicasts(1).size(), 1);
    QCOMPARE(converters->unicasts(1).constFirst().bytes, datagram);
    QCOMPARE(converters->unicasts(0).size() + converters->broadcasts().size(), 1);
    // The set request is logged as the object it is, which prints as its datagram.
    const DebugLine first = debug->lines.constFirst();
    QCOMPARE(first.message,
        function == QLatin1String("config")
            ? QStringLiteral("config QJsonObject(%1)").arg(QString::fromUtf8(datagram))
            : function);
    QTEST(first.line, "line");
    QCOMPARE(first.function, QStringLiteral("void LBXForm::%1()").arg(function));
    const QList<DebugLine> sent = debug->withWord(QStringLiteral("sendData"));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.constFirst().message,
        QStringLiteral("sendData \"%1\" \"127.0.0.3\" 12166")
            .arg(QString::fromUtf8(datagram).replace(QLatin1Char('"'), QStringLiteral("\\\""))));
}

void WindowTest::factoryResetNotConfirmed_data()
{
    QTest::addColumn<BoxCatcher::Answer>("answer");
    QTest::newRow("No") << BoxCatcher::press(QMessageBox::No);
    QTest::newRow("Escape") << BoxCatcher::escape();
    QTest::newRow("close button") << BoxCatcher::Answer([](QMessageBox *box, int) {
        box->close();
    });
    // A technician dismissing boxes with Return must not wipe a converter.
    QTest::newRow("Return") << BoxCatcher::Answer([](QMessageBox *box, int) {
        QTest::keyClick(box, Qt::Key_Return);
    });
}

void WindowTest::factoryResetNotConfirmed()
{
    QFETCH(BoxCatcher::Answer, answer);
    listTwoAndPickTheSecond();
    BoxCatcher boxes(answer);
    QTest::mouseClick(button("factoryBtn"), Qt::LeftButton);
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.constFirst().title, QString::fromUtf8("恢复出厂"));
    QCOMPARE(boxes.boxes.constFirst().text,
        QString::fromUtf8("确定恢复出厂吗,保存配置和数据都会丢失!!"));
    QCOMPARE(boxes.boxes.constFirst().buttons, QMessageBox::Yes | QMessageBox::No);
    // The click has returned: a request would have been sent by now.
    QCOMPARE(debug->lines.size(), 1);
    QCOMPARE(converters->unicastTotal(), 0);
}

// The list does not open over the confirmation, where it would take the keys
// meant for the box; the converter counts that the selection names on Yes.
void WindowTest::newConverterWhileTheConfirmationIsOpen()
{
    listTwoAndPickTheSecond();
    BoxCatcher boxes(BoxCatcher::leaveOpen());
    bool listOpened = true, listed = false;
    boxes.setAnswer([&](QMessageBox *confirmation, int) {
        converters->send(2, R"({"ack":"lbx.info","arg":{"uuid":"third"}})");
        converters->send(0, R"({"ack":"lbx.info","arg":{"uuid":"second"}})");
        listed = QTest::qWaitFor([&] {
            return box("uuidBox")->count() == 3 && received() == 2;
        });
        listOpened = box("uuidBox")->view()->isVisible();
        box("uuidBox")->hidePopup();
        confirmation->button(QMessageBox::Yes)->click();
    });
    QTest::mouseClick(button("factoryBtn"), Qt::LeftButton);
    QVERIFY(listed);
    QVERIFY(!listOpened);
    QCOMPARE(box("uuidBox")->currentText(), QStringLiteral("second"));
    QCOMPARE(boxes.boxes.size(), 1);
    QTRY_COMPARE(converters->unicasts(0).size(), 1);
    QCOMPARE(converters->unicasts(1).size(), 0);
}

// A converter answering from an IPv6 address is listed with an address text
// that reads as no address ("fd00::abcd" gives "abcd"): nothing is sent to it.
void WindowTest::commandToAnUnreadableAddressIsNotSent()
{
    QProcess ip;
    ip.start(
        QStringLiteral("ip"), {"-6", "addr", "replace", "fd00::abcd/128", "dev", "lo", "nodad"});
    if (!ip.waitForFinished() || ip.exitCode() != 0)
        QSKIP("this sandbox has no IPv6 on lo to answer from");
    QUdpSocket ipv6Converter;
    QVERIFY(ipv6Converter.bind(QHostAddress(QStringLiteral("fd00::abcd")), 12166));
    // Where the null address lands on a dual-stack socket: this computer.
    QUdpSocket thisComputer;
    QVERIFY(thisComputer.bind(QHostAddress::LocalHostIPv6, 12166));
    ipv6Converter.writeDatagram(R"({"ack":"lbx.info","arg":{"uuid":"six"}})",
        QHostAddress::LocalHostIPv6, converters->toolPort());
    QTRY_COMPARE(box("uuidBox")->count(), 1);
    QCOMPARE(label("ipLabel"), QStringLiteral("abcd"));

    debug->lines.clear();
    BoxCatcher boxes(BoxCatcher::press(QMessageBox::Yes));
    for (const char *name : {"uploadLogBtn", "updateBtn", "configBtn", "factoryBtn"})
        QTest::mouseClick(button(name), Qt::LeftButton);
    const QList<DebugLine> sent = debug->withWord(QStringLiteral("sendData"));
    QCOMPARE(sent.size(), 4);
    for (const DebugLine &line : sent)
        QVERIFY2(line.message.endsWith(QStringLiteral(" \"\" 12166")), qPrintable(line.message));
    // A datagram sent now arrives behind anything the clicks sent.
    QUdpSocket().writeDatagram("sentinel", QHostAddress::LocalHostIPv6, 12166);
    QTRY_VERIFY(thisComputer.hasPendingDatagrams());
    QCOMPARE(thisComputer.receiveDatagram().data(), QByteArray("sentinel"));
}

void WindowTest::replyOpensItsBox_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("set") << QByteArray(R"({"ack":"lbx.set","result":"ok"})")
                         << QString::fromUtf8("配置")
                         << QString::fromUtf8("配置已经更新, 30s后请重新搜索!");
    QTest::newRow("upload log") << QByteArray(R"({"arg":{},"ack":"lbx.uploadLog"})")
                                << QString::fromUtf8("上传日志")
                                << QString::fromUtf8("日志已经上传!");
    QTest::newRow("update") << QByteArray(R"({"ack":"lbx.update"})") << QString::fromUtf8("更新")
                            << QString::fromUtf8("设备检测更新中,2分钟后请重新搜索!");
    QTest::newRow("factory") << QByteArray(R"({"ack":"lbx.factory"})")
                             << QString::fromUtf8("恢复出厂")
                             << QString::fromUtf8("恢复出厂中,请等待设备重启(2~3分钟)!");
}

// Nobody asked: a reply opens its box all the same, whoever sends it.
void WindowTest::replyOpensItsBox()
{
    QFETCH(QByteArray, datagram);
    BoxCatcher boxes;
    converters->send(0, datagram);
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QTEST(boxes.boxes.constFirst().title, "title");
    QTEST(boxes.boxes.constFirst().text, "text");
    QCOMPARE(boxes.boxes.constFirst().buttons, QMessageBox::Ok);
    QCOMPARE(converters->unicastTotal(), 0);
}

// Thousands of replies in a stream: the socket is read while boxes are open,
// boxes stack only up to the bound, and the window works afterwards.
void WindowTest::floodOfReplies()
{
    constexpr int total = 3000, batch = 50;
    BoxCatcher boxes(BoxCatcher::leaveOpen());
    int sent = 0;
    // Ticks in whatever event loop is innermost, the boxes' included: sends a
    // batch once the last one has been read, then closes the boxes one by one.
    QTimer driver;
    connect(&driver, &QTimer::timeout, this, [&] {
        if (received() < sent)
            return;
        if (sent == total) {
            if (QWidget *top = QApplication::activeModalWidget())
                QTest::keyClick(top, Qt::Key_Escape);
            return;
        }
        for (int i = 0; i < batch; ++i)
            converters->send(i % 2, R"({"ack":"lbx.update"})");
        sent += batch;
    });
    driver.start(1);
    QTRY_VERIFY_WITH_TIMEOUT(sent == total && received() == total && boxes.openNow() == 0, 60000);
    driver.stop();
    QCOMPARE(boxes.mostOpen(), 8);
    QVERIFY(boxes.boxes.size() < total);
    QTest::mouseClick(button("searchBtn"), Qt::LeftButton);
    QVERIFY(converters->waitForBroadcast(2));
    converters->sendInfo(0, QStringLiteral("still here"));
    QTRY_COMPARE(box("uuidBox")->count(), 1);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
