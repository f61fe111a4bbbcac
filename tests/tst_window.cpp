// The technician at the window: the search, the list of converters that answer,
// the detail view, the commands and the boxes that answers open, with the debug
// lines each step leaves. The test plays three converters on real sockets.

#include "lbxform.h"
#include "support.h"
#include "uifont.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

Q_DECLARE_METATYPE(BoxCatcher::Answer)
Q_DECLARE_METATYPE(QMessageBox::Icon)

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void formReadsAsItsCaptionsSay();
    void chineseCaptionsOnWindows_data();
    void chineseCaptionsOnWindows();
    void searchAtStartAndOnEachClick();
    void computerAddressShown_data();
    void computerAddressShown();
    void threeConvertersAnswer();
    void detailViewShowsWhatTheConverterReported_data();
    void detailViewShowsWhatTheConverterReported();
    void commandGoesToTheSelectedConverterOnly_data();
    void commandGoesToTheSelectedConverterOnly();
    void factoryResetNotConfirmed_data();
    void factoryResetNotConfirmed();
    void newConverterWhileTheConfirmationIsOpen();
    void newConverterWhileAReplyBoxIsOpen();
    void commandToAnUnreadableAddressIsNotSent();
    void replyOpensItsBox_data();
    void replyOpensItsBox();
    void floodOfReplies();
    void lateConverterOnceTheOperatorMovedOn_data();
    void lateConverterOnceTheOperatorMovedOn();
    void longUuidsStayApart();
    void batchIntoAnOpenList();

private:
    QComboBox *box(const char *name) const { return widget<QComboBox>(form.get(), name); }
    QPushButton *button(const char *name) const { return widget<QPushButton>(form.get(), name); }
    QString label(const char *name) const { return widget<QLabel>(form.get(), name)->text(); }
    // The groups that can be used: "config system" once a converter is listed.
    QString enabledGroups() const;
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

QString WindowTest::enabledGroups() const
{
    QStringList names;
    if (widget<QGroupBox>(form.get(), "configGroup")->isEnabled())
        names << QStringLiteral("config");
    if (widget<QGroupBox>(form.get(), "systemGroup")->isEnabled())
        names << QStringLiteral("system");
    return names.join(QLatin1Char(' '));
}

void WindowTest::listTwoAndPickTheSecond()
{
    converters->send(0, R"({"ack":"lbx.info","arg":{"uuid":"first","baud":9600}})");
    converters->send(1, R"({"ack":"lbx.info","arg":{"uuid":"second","baud":9600}})");
    QTRY_COMPARE(box("uuidBox")->count(), 2);
    pickEntry(box("uuidBox"), 1);
    debug->lines.clear();
}

// The form as it starts, as the technician reads it; the tests find widgets
// by name, and this is where their words are held. Lists read "a|b|c".
void WindowTest::formReadsAsItsCaptionsSay()
{
    const char *const captions[][2] = {{"lbxform", "LBXConfig"}, {"searchBtn", "搜索"},
        {"configBtn", "应用"}, {"uploadLogBtn", "上传日志"}, {"updateBtn", "升级"},
        {"factoryBtn", "恢复出厂"}, {"configGroup", "配置"}, {"systemGroup", "维护"},
        {"label_2", "UUID:"}, {"label_7", " 本机IP:"}, {"label_8", ""}, {"label", "波特率:"},
        {"label_4", "版本:"}, {"label_5", "UUID:"}, {"label_3", "模式:"}, {"label_6", "IP:"},
        {"macLabel", ""}, {"baudLabel", ""}, {"ipLabel", ""}, {"versionLabel", "000000"},
        {"baudBox", "4800|9600|19200|38400|115200"},
        {"pluginBox", "网络字节协议|485字节协议|JSON协议|VEXO协议|其他"},
        {"plainTextEdit",
            "Orvane485网络协议转换器\n接线:\n第三方主机-->485-->协议转换器-->网络-->路由器-->"
            "音乐设备 \n\n485端支持的协议:\n1.Orvane老的网络字节协议\n2.新的JSON网络协议,\n3."
            "老的485协议(不支持选曲命令)\n\n具体协议请参考最新的Orvane协议文档."}};
    for (const auto &[name, caption] : captions) {
        const QWidget *shown = QLatin1String(name) == QLatin1String("lbxform")
            ? form.get()
            : widget<QWidget>(form.get(), name);
        QString text = shown
                           ->property(shown->isWindow()                          ? "windowTitle"
                                   : qobject_cast<const QGroupBox *>(shown)      ? "title"
                                   : qobject_cast<const QPlainTextEdit *>(shown) ? "plainText"
                                                                                 : "text")
                           .toString();
        if (const auto *list = qobject_cast<const QComboBox *>(shown)) {
            for (int entry = 0; entry < list->count(); ++entry)
                text += (entry ? QStringLiteral("|") : QString()) + list->itemText(entry);
        }
        QCOMPARE(text, QString::fromUtf8(caption));
    }
    const auto *about = widget<QPlainTextEdit>(form.get(), "plainTextEdit");
    QVERIFY(about->isReadOnly());
    QCOMPARE(about->font().pointSize(), 9);
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
    QCOMPARE(enabledGroups(), QStringLiteral("config system"));
    QTest::mouseClick(button("searchBtn"), Qt::LeftButton);
    // At once, before any converter has answered again.
    QCOMPARE(box("uuidBox")->count(), 0);
    QCOMPARE(enabledGroups(), QString());
    QCOMPARE(label("macLabel"), QString());
    QVERIFY(converters->waitForBroadcast(2));
    // A datagram sent on loopback is queued for its listener before sendto()
    // returns: any further request would be counted here already.
    QCOMPARE(converters->broadcasts().size(), 2);
    QCOMPARE(converters->unicastTotal(), 0);
    // The search forgot A: answering again, it is listed again.
    converters->sendInfo(0, QStringLiteral("A"));
    QTRY_COMPARE(box("uuidBox")->count(), 1);
    QCOMPARE(label("macLabel"), QStringLiteral("A"));
}

void WindowTest::computerAddressShown_data()
{
    QTest::addColumn<QString>("change"); // to the sandbox's network, then its undo
    QTest::addColumn<QString>("undo");
    QTest::addColumn<QString>("shown");
    const QString route = QStringLiteral("; ip route replace default dev lbx0");
    QTest::newRow("another loopback address comes first") << "ip addr add 127.0.0.2/8 dev lo"
                                                          << "ip addr del 127.0.0.2/8 dev lo"
                                                          << "127.0.0.2";
    QTest::newRow("the adapter is down") << "ip link set lbx0 down"
                                         << "ip link set lbx0 up" + route << "10.77.0.1";
    QTest::newRow("no address but 127.0.0.1")
        << "ip addr del 10.77.0.1/24 dev lbx0"
        << "ip addr add 10.77.0.1/24 dev lbx0" + route << "0.0.0.0";
}

// The address a technician reads off the window, as it was at its start.
void WindowTest::computerAddressShown()
{
    QFETCH(QString, change);
    QFETCH(QString, undo);
    if (QProcess::execute(QStringLiteral("sh"), {"-c", change}) != 0)
        QSKIP("this sandbox does not let its network be changed");
    const QString shown = widget<QLabel>(std::make_unique<LBXForm>().get(), "ip")->text();
    QCOMPARE(QProcess::execute(QStringLiteral("sh"), {"-c", undo}), 0);
    QTEST(shown, "shown");
}

// Sent back to back, with rubbish between them: every datagram is logged in
// arrival order, and only the info replies are listed, each uuid once.
void WindowTest::threeConvertersAnswer()
{
    QCOMPARE(enabledGroups(), QString());
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
    QCOMPARE(enabledGroups(), QStringLiteral("config system"));
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
    // B answers once more, on its own: the detail view follows.
    converters->send(
        0, R"({"ack":"lbx.info","arg":{"uuid":"B","appVersion":2.7,"romVersion":"t"}})");
    QTRY_COMPARE(label("versionLabel"), QStringLiteral("2.7(t)"));
    QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.2"));
}

void WindowTest::detailViewShowsWhatTheConverterReported_data()
{
    QTest::addColumn<QByteArray>("arg"); // empty: the reply has none
    QTest::addColumn<QString>("shown"); // uuid, ip, version, baud box, protocol box
    QTest::newRow("JSON protocol at 115200") << QByteArray(
        R"({"uuid":"A","baud":115200,"pluginName":"OvTcp485","appVersion":3,)"
        R"("romVersion":"1.0"})") << QString::fromUtf8("A 127.0.0.2 3(1.0) 115200 JSON协议");
    QTest::newRow("VEXO at 9600.0") << QByteArray(
        R"({"uuid":"A","baud":9600.0,"pluginName":"Net485","appVersion":2.10,)"
        R"("romVersion":"7"})") << QString::fromUtf8("A 127.0.0.2 2.1(7) 9600 VEXO协议");
    QTest::newRow("network bytes at 4800, six significant digits")
        << QByteArray(R"({"uuid":"A","baud":4800,"pluginName":"OvUdp485","appVersion":1.23456789})")
        << QString::fromUtf8("A 127.0.0.2 1.23457() 4800 网络字节协议");
    // A rate no entry offers keeps the operator's; a name the table lacks is "other".
    QTest::newRow("57600, a plug-in name with a blank") << QByteArray(
        R"({"uuid":"A","baud":57600,"pluginName":"OvUdp485 ","appVersion":1250000,)"
        R"("romVersion":"r"})") << QString::fromUtf8("A 127.0.0.2 1.25e+06(r) 19200 其他");
    QTest::newRow("members of the wrong types") << QByteArray(
        R"({"uuid":"A","baud":"9600","pluginName":7,"appVersion":"2","romVersion":5})")
                                                << QString::fromUtf8("A 127.0.0.2 0() 19200 其他");
    QTest::newRow("no arg at all: listed, as nothing but its address")
        << QByteArray() << QString::fromUtf8(" 127.0.0.2 0() 19200 其他");
}

// The operator has turned the boxes to 19200 and the 485 protocol; the
// converter's answer sets them to what it reported.
void WindowTest::detailViewShowsWhatTheConverterReported()
{
    QFETCH(QByteArray, arg);
    box("baudBox")->setCurrentIndex(2);
    box("pluginBox")->setCurrentIndex(1);
    converters->send(
        0, arg.isEmpty() ? R"({"ack":"lbx.info"})" : R"({"ack":"lbx.info","arg":)" + arg + '}');
    QTRY_COMPARE(box("uuidBox")->count(), 1);
    QTEST(QStringList({label("macLabel"), label("ipLabel"), label("versionLabel"),
                          box("baudBox")->currentText(), box("pluginBox")->currentText()})
              .join(' '),
        "shown");
}

void WindowTest::commandGoesToTheSelectedConverterOnly_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<int>("baudEntry");
    QTest::addColumn<int>("pluginEntry");
    QTest::addColumn<QString>("shown"); // what the two boxes show
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("function"); // of the first debug line, and its line
    QTest::addColumn<int>("line");
    // Each baud entry with another protocol entry, so that neither box stands in for the other.
    const QString set = QStringLiteral("configBtn");
    QTest::newRow("apply 4800, VEXO")
        << set << 0 << 3 << QString::fromUtf8("4800 VEXO协议")
        << QByteArray(R"({"arg":{"baud":4800,"pluginName":"Net485"},"call":"lbx.set"})") << "config"
        << 120;
    QTest::newRow("apply 9600, other")
        << set << 1 << 4 << QString::fromUtf8("9600 其他")
        << QByteArray(R"({"arg":{"baud":9600,"pluginName":""},"call":"lbx.set"})") << "config"
        << 120;
    QTest::newRow("apply 19200, network bytes")
        << set << 2 << 0 << QString::fromUtf8("19200 网络字节协议")
        << QByteArray(R"({"arg":{"baud":19200,"pluginName":"OvUdp485"},"call":"lbx.set"})")
        << "config" << 120;
    QTest::newRow("apply 38400, 485 bytes")
        << set << 3 << 1 << QString::fromUtf8("38400 485字节协议")
        << QByteArray(R"({"arg":{"baud":38400,"pluginName":"OvCom485"},"call":"lbx.set"})")
        << "config" << 120;
    QTest::newRow("apply 115200, JSON")
        << set << 4 << 2 << QString::fromUtf8("115200 JSON协议")
        << QByteArray(R"({"arg":{"baud":115200,"pluginName":"OvTcp485"},"call":"lbx.set"})")
        << "config" << 120;
    QTest::newRow("apply 4800, no protocol entry")
        << set << 0 << -1 << "4800 " << QByteArray(R"({"arg":{"baud":4800},"call":"lbx.set"})")
        << "config" << 120;
    const QString first = QString::fromUtf8("4800 网络字节协议");
    QTest::newRow("upload log") << "uploadLogBtn" << 0 << 0 << first
                                << QByteArray(R"({"call":"lbx.uploadLog"})") << "uploadLog" << 80;
    QTest::newRow("update") << "updateBtn" << 0 << 0 << first
                            << QByteArray(R"({"call":"lbx.update"})") << "updateApp" << 73;
    QTest::newRow("factory reset, Yes")
        << "factoryBtn" << 0 << 0 << first << QByteArray(R"({"call":"lbx.factory"})") << "factory"
        << 87;
}

void WindowTest::commandGoesToTheSelectedConverterOnly()
{
    QFETCH(QString, buttonName);
    QFETCH(int, baudEntry);
    QFETCH(int, pluginEntry);
    QFETCH(QByteArray, datagram);
    QFETCH(QString, function);
    listTwoAndPickTheSecond();
    box("baudBox")->setCurrentIndex(baudEntry);
    box("pluginBox")->setCurrentIndex(pluginEntry);
    QTEST(box("baudBox")->currentText() + ' ' + box("pluginBox")->currentText(), "shown");
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

// Before the operator has done anything, a reply's box is open: a converter
// that answers now is listed, and the list does not open over the box.
void WindowTest::newConverterWhileAReplyBoxIsOpen()
{
    BoxCatcher boxes(BoxCatcher::leaveOpen());
    bool listOpened = true, listed = false;
    boxes.setAnswer([&](QMessageBox *box, int) {
        converters->sendInfo(1, QStringLiteral("late"));
        listed = QTest::qWaitFor([&] {
            return this->box("uuidBox")->count() == 1;
        });
        listOpened = this->box("uuidBox")->view()->isVisible();
        box->button(QMessageBox::Ok)->click();
    });
    converters->send(0, R"({"ack":"lbx.update"})");
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QTRY_VERIFY(listed);
    QVERIFY(!listOpened);
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
    QTest::addColumn<QMessageBox::Icon>("icon");
    const auto done = QMessageBox::Information;
    QTest::newRow("set") << QByteArray(R"({"ack":"lbx.set","result":"ok"})")
                         << QString::fromUtf8("配置")
                         << QString::fromUtf8("配置已经更新, 30s后请重新搜索!") << done;
    QTest::newRow("upload log") << QByteArray(R"({"arg":{},"ack":"lbx.uploadLog"})")
                                << QString::fromUtf8("上传日志")
                                << QString::fromUtf8("日志已经上传!") << done;
    QTest::newRow("update") << QByteArray(R"({"ack":"lbx.update"})") << QString::fromUtf8("更新")
                            << QString::fromUtf8("设备检测更新中,2分钟后请重新搜索!") << done;
    QTest::newRow("factory") << QByteArray(R"({"ack":"lbx.factory"})")
                             << QString::fromUtf8("恢复出厂")
                             << QString::fromUtf8("恢复出厂中,请等待设备重启(2~3分钟)!") << done;
    // The converter says no: a warning, in its own words, never the success text.
    const auto refused = QMessageBox::Warning;
    QTest::newRow("set rejected")
        << QByteArray(R"({"ack":"lbx.set","result":"rejected","error":"unknown plug-in \"\""})")
        << QString::fromUtf8("配置")
        << QString::fromUtf8(R"(设备拒绝了请求: result "rejected", error "unknown plug-in """)")
        << refused;
    QTest::newRow("update with an error")
        << QByteArray(R"({"ack":"lbx.update","error":{"code":3}})") << QString::fromUtf8("更新")
        << QString::fromUtf8(R"(设备拒绝了请求: error {"code":3})") << refused;
    QTest::newRow("words that look like markup")
        << QByteArray(R"({"ack":"lbx.set","error":"<b>no</b>"})") << QString::fromUtf8("配置")
        << QString::fromUtf8(R"(设备拒绝了请求: error "<b>no</b>")") << refused;
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
    QTEST(boxes.boxes.constFirst().icon, "icon");
    QCOMPARE(boxes.boxes.constFirst().format, Qt::PlainText); // shown as it came
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

void WindowTest::lateConverterOnceTheOperatorMovedOn_data()
{
    QTest::addColumn<QString>("move");
    QTest::newRow("picked an entry") << "pick";
    QTest::newRow("went on to the baud box") << "focus";
    QTest::newRow("pressed a button") << "button";
}

// The operator has moved on from the list when a converter answers late: it is
// listed, but the list does not open over the form, where it would take the
// click or the keys meant for it; the selection and the detail view stay.
void WindowTest::lateConverterOnceTheOperatorMovedOn()
{
    QFETCH(QString, move);
    converters->sendInfo(0, QStringLiteral("first"));
    converters->sendInfo(1, QStringLiteral("second"));
    QTRY_COMPARE(box("uuidBox")->count(), 2);
    QVERIFY(box("uuidBox")->view()->isVisible()); // nobody has acted yet
    int chosen = 0;
    if (move == QLatin1String("pick")) {
        pickEntry(box("uuidBox"), 1);
        chosen = 1;
    } else if (move == QLatin1String("focus")) {
        // The click on the baud box closes the list and takes the focus there.
        QApplication::setActiveWindow(form.get());
        box("uuidBox")->hidePopup();
        box("uuidBox")->setFocus(Qt::OtherFocusReason);
        box("baudBox")->setFocus(Qt::MouseFocusReason);
    } else {
        box("uuidBox")->hidePopup();
        QTest::mouseClick(button("uploadLogBtn"), Qt::LeftButton);
        QTRY_COMPARE(converters->unicasts(0).size(), 1);
    }
    const QString picked = chosen ? QStringLiteral("second") : QStringLiteral("first");
    QCOMPARE(box("uuidBox")->currentText(), picked);

    converters->sendInfo(2, QStringLiteral("late"));
    QTRY_COMPARE(box("uuidBox")->count(), 3);
    QVERIFY(!box("uuidBox")->view()->isVisible());
    QCOMPARE(box("uuidBox")->currentText(), picked);
    QCOMPARE(label("macLabel"), picked);
    QTest::mouseClick(button("configBtn"), Qt::LeftButton);
    const auto setsTo = [this](int converter) {
        int sets = 0;
        for (const Received &request : converters->unicasts(converter))
            sets += request.bytes.contains("lbx.set") ? 1 : 0;
        return sets;
    };
    QTRY_COMPARE(setsTo(chosen), 1);
    QCOMPARE(setsTo(1 - chosen) + setsTo(2), 0);
}

// Two uuids alike in their first 300 characters are two converters: two
// entries, shown cut, each reaching its own converter.
void WindowTest::longUuidsStayApart()
{
    const QString common(300, QLatin1Char('U'));
    converters->sendInfo(0, common + QStringLiteral("-one"));
    converters->sendInfo(1, common + QStringLiteral("-two"));
    QTRY_COMPARE(box("uuidBox")->count(), 2);
    const QString shown = QString(255, QLatin1Char('U')) + QString::fromUtf8("…");
    QCOMPARE(box("uuidBox")->itemText(0), shown);
    QCOMPARE(box("uuidBox")->itemText(1), shown);
    for (int entry : {1, 0}) {
        pickEntry(box("uuidBox"), entry);
        QCOMPARE(label("ipLabel"), QStringLiteral("127.0.0.%1").arg(entry + 2));
        QCOMPARE(label("macLabel"), shown);
        QTest::mouseClick(button("updateBtn"), Qt::LeftButton);
        QTRY_COMPARE(converters->unicasts(entry).size(), 1);
    }
}

// An open list grows to show the converters that come, as far as the screen
// lets it, whether they come one at a time or many at once.
void WindowTest::batchIntoAnOpenList()
{
    QAbstractItemView *list = box("uuidBox")->view();
    for (int n = 0; n < 12; ++n) {
        converters->sendInfo(n % 3, QStringLiteral("one at a time %1").arg(n));
        QTRY_COMPARE(box("uuidBox")->count(), n + 1);
    }
    const int row = list->sizeHintForRow(0);
    QCOMPARE(list->viewport()->height() / row, 12);

    QTest::mouseClick(button("searchBtn"), Qt::LeftButton);
    for (int n = 0; n < 3; ++n)
        converters->sendInfo(n, QStringLiteral("early %1").arg(n));
    QTRY_COMPARE(box("uuidBox")->count(), 3);
    QCOMPARE(list->viewport()->height() / row, 3);
    for (int n = 0; n < 20; ++n) // read in one go: nothing is read until the loop runs
        converters->sendInfo(n % 3, QStringLiteral("batch %1").arg(n));
    QTRY_COMPARE(box("uuidBox")->count(), 23);
    QVERIFY(list->isVisible());
    const int shown = list->viewport()->height() / row;
    const int screenRows
        = list->window()->windowHandle()->screen()->availableGeometry().height() / row;
    QVERIFY2(shown == 23 || shown >= screenRows - 1, qPrintable(QString::number(shown)));
}

QTEST_MAIN(WindowTest)
void WindowTest::chineseCaptionsOnWindows_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("Windows 10, English") << QStringList{"MS Shell Dlg 2", "Tahoma", "MS UI Gothic",
        "SimSun", "Microsoft YaHei", "Microsoft YaHei UI"}
                                         << "Microsoft YaHei UI";
    QTest::newRow("YaHei without its UI face")
        << QStringList{"Tahoma", "MS UI Gothic", "SimSun", "Microsoft YaHei"} << "Microsoft YaHei";
    QTest::newRow("no Chinese face: the default stays")
        << QStringList{"Tahoma", "MS UI Gothic"} << QString();
}

void WindowTest::chineseCaptionsOnWindows()
{
    QFETCH(QStringList, installed);
    QTEST(chineseUiFamily(installed), "chosen");
}

#include "tst_window.moc"
