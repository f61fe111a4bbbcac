// The technician changes a converter: apply, upload log, update, factory reset,
// and the boxes that the converters' answers open. The test plays two converters.

#include "lbxform.h"
#include "support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QNetworkDatagram>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const char *const baudEntries[] = {"4800", "9600", "19200", "38400", "115200"};
const char *const pluginNames[] = {"OvUdp485", "OvCom485", "OvTcp485", "Net485", ""};

struct ReplyBox
{
    const char *ack;
    const char *title;
    const char *text;
};
const ReplyBox replyBoxes[] = {
    {"lbx.set", "配置", "配置已经更新, 30s后请重新搜索!"},
    {"lbx.uploadLog", "上传日志", "日志已经上传!"},
    {"lbx.update", "更新", "设备检测更新中,2分钟后请重新搜索!"},
    {"lbx.factory", "恢复出厂", "恢复出厂中,请等待设备重启(2~3分钟)!"},
};

} // namespace

Q_DECLARE_METATYPE(BoxCatcher::Answer)

class CommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void applyGoesToTheSelectedConverterOnly_data();
    void applyGoesToTheSelectedConverterOnly();
    void maintenanceGoesToTheSelectedConverterOnly_data();
    void maintenanceGoesToTheSelectedConverterOnly();
    void factoryReset_data();
    void factoryReset();
    void factoryResetGoesWhereTheSelectionIsOnYes();
    void newConverterWhileTheConfirmationIsOpen();
    void commandToAnUnreadableAddressIsNotSent_data();
    void commandToAnUnreadableAddressIsNotSent();
    void replyOpensItsBox_data();
    void replyOpensItsBox();
    void repliesAreHeardWhileABoxIsOpen();
    void floodOfReplies_data();
    void floodOfReplies();

private:
    QComboBox *box(const char *name) const { return widget<QComboBox>(form.get(), name); }
    QPushButton *button(const char *name) const { return widget<QPushButton>(form.get(), name); }
    void pickConverter(int index);
    // Waits until the n-th datagram has reached converter c.
    bool waitForRequest(int converter, int count = 1);

    std::unique_ptr<DebugLines> debug;
    std::unique_ptr<FakeConverters> converters;
    std::unique_ptr<LBXForm> form;
};

void CommandsTest::init()
{
    debug = std::make_unique<DebugLines>();
    converters = std::make_unique<FakeConverters>(2);
    form = std::make_unique<LBXForm>();
    form->show();
    QVERIFY(converters->waitForBroadcast());
    converters->send(0, R"({"ack":"lbx.info","arg":{"uuid":"first","baud":9600}})");
    converters->send(1, R"({"ack":"lbx.info","arg":{"uuid":"second","baud":9600}})");
    QTRY_COMPARE(box("uuidBox")->count(), 2);
    pickConverter(1);
    debug->lines.clear();
}

void CommandsTest::cleanup()
{
    form.reset();
    converters.reset();
    debug.reset();
}

void CommandsTest::pickConverter(int index)
{
    pickEntry(box("uuidBox"), index);
}

bool CommandsTest::waitForRequest(int converter, int count)
{
    return QTest::qWaitFor([&] {
        return converters->unicasts(converter).size() >= count;
    });
}

void CommandsTest::applyGoesToTheSelectedConverterOnly_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("plugin");
    QTest::addColumn<QByteArray>("datagram");
    for (int baud = 0; baud < 5; ++baud) {
        for (int plugin = 0; plugin < 5; ++plugin) {
            const QByteArray datagram = QByteArray(R"({"arg":{"baud":)") + baudEntries[baud]
                + R"(,"pluginName":")" + pluginNames[plugin] + R"("},"call":"lbx.set"})";
            QTest::addRow("%s, %d", baudEntries[baud], plugin) << baud << plugin << datagram;
        }
    }
}

void CommandsTest::applyGoesToTheSelectedConverterOnly()
{
    QFETCH(int, baud);
    QFETCH(int, plugin);
    QFETCH(QByteArray, datagram);
    box("baudBox")->setCurrentIndex(baud);
    box("pluginBox")->setCurrentIndex(plugin);
    QTest::mouseClick(button("configBtn"), Qt::LeftButton);

    QVERIFY(waitForRequest(1));
    QCOMPARE(converters->unicasts(1).constFirst().bytes, datagram);
    QCOMPARE(converters->unicasts(0).size(), 0);
    QCOMPARE(converters->broadcasts().size(), 1);

    const QList<DebugLine> config = debug->withWord(QStringLiteral("config"));
    QCOMPARE(config.size(), 1);
    QCOMPARE(config.constFirst().line, 120);
    QCOMPARE(config.constFirst().function, QStringLiteral("void LBXForm::config()"));
    const QString request
        = QString::fromUtf8(
            R"(config QJsonObject({"arg":{"baud":%1,"pluginName":"%2"},"call":"lbx.set"}))")
              .arg(QLatin1String(baudEntries[baud]), QLatin1String(pluginNames[plugin]));
    QCOMPARE(config.constFirst().message, request);
    const QList<DebugLine> sent = debug->withWord(QStringLiteral("sendData"));
    QCOMPARE(sent.size(), 1);
    QVERIFY2(sent.constFirst().message.endsWith(QStringLiteral(" \"127.0.0.3\" 12166")),
        qPrintable(sent.constFirst().message));
}

void CommandsTest::maintenanceGoesToTheSelectedConverterOnly_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("line");
    QTest::newRow("upload log") << "uploadLogBtn" << QByteArray(R"({"call":"lbx.uploadLog"})")
                                << "uploadLog" << 80;
    QTest::newRow("update") << "updateBtn" << QByteArray(R"({"call":"lbx.update"})") << "updateApp"
                            << 73;
}

void CommandsTest::maintenanceGoesToTheSelectedConverterOnly()
{
    QFETCH(QString, buttonName);
    QFETCH(QByteArray, datagram);
    QFETCH(QString, word);
    QFETCH(int, line);
    BoxCatcher boxes;
    QTest::mouseClick(button(qPrintable(buttonName)), Qt::LeftButton);
    QVERIFY(waitForRequest(1));
    QCOMPARE(converters->unicasts(1).constFirst().bytes, datagram);
    QCOMPARE(converters->unicasts(0).size(), 0);
    QCOMPARE(debug->lines.constFirst().message, word);
    QCOMPARE(debug->lines.constFirst().line, line);
    QCOMPARE(debug->lines.constFirst().function, QStringLiteral("void LBXForm::%1()").arg(word));
    QCOMPARE(boxes.boxes.size(), 0);
}

void CommandsTest::factoryReset_data()
{
    QTest::addColumn<BoxCatcher::Answer>("answer");
    QTest::addColumn<bool>("sent");
    QTest::newRow("Yes") << BoxCatcher::press(QMessageBox::Yes) << true;
    QTest::newRow("No") << BoxCatcher::press(QMessageBox::No) << false;
    QTest::newRow("Escape") << BoxCatcher::escape() << false;
    QTest::newRow("close button") << BoxCatcher::closeButton() << false;
    // A technician dismissing boxes with Return must not wipe a converter.
    QTest::newRow("Return") << BoxCatcher::Answer([](QMessageBox *box, int) {
        QTest::keyClick(box, Qt::Key_Return);
    }) << false;
}

void CommandsTest::factoryReset()
{
    QFETCH(BoxCatcher::Answer, answer);
    QFETCH(bool, sent);
    BoxCatcher boxes(answer);
    QTest::mouseClick(button("factoryBtn"), Qt::LeftButton);

    QCOMPARE(boxes.boxes.size(), 1);
    const BoxCatcher::Box confirmation = boxes.boxes.constFirst();
    QCOMPARE(confirmation.title, QString::fromUtf8("恢复出厂"));
    QCOMPARE(confirmation.text, QString::fromUtf8("确定恢复出厂吗,保存配置和数据都会丢失!!"));
    QCOMPARE(confirmation.icon, QMessageBox::Warning);
    QCOMPARE(confirmation.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(confirmation.parent, form.get());
    QCOMPARE(debug->lines.constFirst().message, QStringLiteral("factory"));
    QCOMPARE(debug->lines.constFirst().line, 87);
    QCOMPARE(debug->lines.constFirst().function, QStringLiteral("void LBXForm::factory()"));

    if (sent) {
        QVERIFY(waitForRequest(1));
        QCOMPARE(converters->unicasts(1).constFirst().bytes, QByteArray(Protocol::factoryRequest));
    } else {
        // The click has returned: a request would have been sent by now.
        QCOMPARE(debug->lines.size(), 1);
    }
    QCOMPARE(converters->unicasts(0).size(), 0);
    QCOMPARE(converters->unicasts(1).size(), sent ? 1 : 0);
    QCOMPARE(boxes.boxes.size(), 1);
}

void CommandsTest::factoryResetGoesWhereTheSelectionIsOnYes()
{
    // Meanwhile the uuid answers from the other converter: its address counts.
    BoxCatcher boxes(BoxCatcher::leaveOpen());
    boxes.setAnswer([this](QMessageBox *box, int) {
        converters->send(0, R"({"ack":"lbx.info","arg":{"uuid":"second"}})");
        QVERIFY(QTest::qWaitFor([this] {
            return debug->withWord(QStringLiteral("onRecvData")).size() == 1;
        }));
        box->button(QMessageBox::Yes)->click();
    });
    QTest::mouseClick(button("factoryBtn"), Qt::LeftButton);
    QVERIFY(waitForRequest(0));
    QCOMPARE(converters->unicasts(0).constFirst().bytes, QByteArray(Protocol::factoryRequest));
    QCOMPARE(converters->unicasts(1).size(), 0);
}

// Keys go where a real key press goes: to the open popup, else to the focus.
static void press(Qt::Key key)
{
    QWidget *target = QApplication::activePopupWidget();
    if (!target)
        target = QApplication::focusWidget();
    QVERIFY(target);
    QTest::keyClick(target, key);
}

void CommandsTest::newConverterWhileTheConfirmationIsOpen()
{
    BoxCatcher boxes(BoxCatcher::leaveOpen());
    bool listOpened = true;
    boxes.setAnswer([this, &listOpened](QMessageBox *, int) {
        converters->send(0, R"({"ack":"lbx.info","arg":{"uuid":"third"}})");
        QVERIFY(QTest::qWaitFor([this] {
            return box("uuidBox")->count() == 3;
        }));
        listOpened = box("uuidBox")->view()->isVisible();
        // Return, as a technician dismisses boxes, until no box is left.
        press(Qt::Key_Return);
        if (QApplication::activeModalWidget())
            press(Qt::Key_Return);
    });
    QTest::mouseClick(button("factoryBtn"), Qt::LeftButton);
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(!listOpened);
    QCOMPARE(box("uuidBox")->currentText(), QStringLiteral("second"));
    QCOMPARE(debug->withWord(QStringLiteral("sendData")).size(), 0);
    QCOMPARE(converters->unicasts(0).size() + converters->unicasts(1).size(), 0);
}

void CommandsTest::commandToAnUnreadableAddressIsNotSent_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::newRow("upload log") << "uploadLogBtn";
    QTest::newRow("update") << "updateBtn";
    QTest::newRow("apply") << "configBtn";
    QTest::newRow("factory reset, Yes") << "factoryBtn";
}

void CommandsTest::commandToAnUnreadableAddressIsNotSent()
{
    // A converter answering from an IPv6 address is listed with an address text
    // that reads as no address ("fd00::abcd" gives "abcd").
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
    QTRY_COMPARE(box("uuidBox")->count(), 3);
    pickConverter(2);
    QCOMPARE(widget<QLabel>(form.get(), "ipLabel")->text(), QStringLiteral("abcd"));
    debug->lines.clear();

    QFETCH(QString, buttonName);
    BoxCatcher boxes(BoxCatcher::press(QMessageBox::Yes));
    QTest::mouseClick(button(qPrintable(buttonName)), Qt::LeftButton);
    const QList<DebugLine> sent = debug->withWord(QStringLiteral("sendData"));
    QCOMPARE(sent.size(), 1);
    QVERIFY2(sent.constFirst().message.endsWith(QStringLiteral(" \"\" 12166")),
        qPrintable(sent.constFirst().message));
    // A datagram sent now arrives behind anything the click sent.
    QUdpSocket().writeDatagram("sentinel", QHostAddress::LocalHostIPv6, 12166);
    QTRY_VERIFY(thisComputer.hasPendingDatagrams());
    QCOMPARE(thisComputer.receiveDatagram().data(), QByteArray("sentinel"));
}

void CommandsTest::replyOpensItsBox_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    for (const ReplyBox &reply : replyBoxes) {
        const QString title = QString::fromUtf8(reply.title);
        const QString text = QString::fromUtf8(reply.text);
        const QByteArray ack = reply.ack;
        QTest::addRow("%s", reply.ack) << "{\"ack\":\"" + ack + "\"}" << title << text;
        QTest::addRow("%s with members", reply.ack)
            << "{\"arg\":{\"x\":1},\"ack\":\"" + ack + "\",\"y\":[]}" << title << text;
        QTest::addRow("%s other case", reply.ack)
            << "{\"ack\":\"" + ack.toUpper() + "\"}" << QString() << QString();
    }
    QTest::newRow("uploadlog") << QByteArray(R"({"ack":"lbx.uploadlog"})") << QString()
                               << QString();
}

// Nobody asked: a reply opens its box all the same, whoever sends it.
void CommandsTest::replyOpensItsBox()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, title);
    BoxCatcher boxes;
    converters->send(0, datagram);
    QTRY_COMPARE(debug->withWord(QStringLiteral("onRecvData")).size(), 1);
    if (title.isEmpty()) {
        // A box is posted to open as soon as the handler returns; let it.
        QCoreApplication::processEvents();
        QCOMPARE(boxes.boxes.size(), 0);
        return;
    }
    QTRY_COMPARE(boxes.boxes.size(), 1);
    const BoxCatcher::Box shown = boxes.boxes.constFirst();
    QCOMPARE(shown.title, title);
    QTEST(shown.text, "text");
    QCOMPARE(shown.icon, QMessageBox::Information);
    QCOMPARE(shown.buttons, QMessageBox::Ok);
    QCOMPARE(shown.parent, form.get());
    QCOMPARE(converters->unicastTotal(), 0);
}

// While one reply's box is open, a converter's info reply is listed and a
// second reply opens a second box; once both are closed, a new search still
// hears the converters.
void CommandsTest::repliesAreHeardWhileABoxIsOpen()
{
    BoxCatcher boxes(BoxCatcher::leaveOpen());
    boxes.setAnswer([this, &boxes](QMessageBox *box, int number) {
        if (number == 1) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        converters->send(1, R"({"ack":"lbx.info","arg":{"uuid":"third"}})");
        QVERIFY(QTest::qWaitFor([this] {
            return this->box("uuidBox")->count() == 3;
        }));
        converters->send(0, R"({"ack":"lbx.uploadLog"})");
        QVERIFY(QTest::qWaitFor([&] {
            return boxes.boxes.size() == 2;
        }));
        QTest::keyClick(box, Qt::Key_Escape);
    });
    converters->send(0, R"({"ack":"lbx.set"})");
    QTRY_COMPARE(boxes.boxes.size(), 2);
    QTRY_COMPARE(boxes.openNow(), 0);
    QCOMPARE(boxes.mostOpen(), 2);
    QCOMPARE(boxes.boxes.at(1).title, QString::fromUtf8("上传日志"));
    QCOMPARE(box("uuidBox")->itemText(2), QStringLiteral("third"));

    QTest::mouseClick(button("searchBtn"), Qt::LeftButton);
    QVERIFY(converters->waitForBroadcast(2));
    converters->send(1, R"({"ack":"lbx.info","arg":{"uuid":"again"}})");
    QTRY_COMPARE(box("uuidBox")->count(), 1);
    QCOMPARE(box("uuidBox")->itemText(0), QStringLiteral("again"));
}

void CommandsTest::floodOfReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("opensBoxes");
    for (const ReplyBox &reply : replyBoxes)
        QTest::addRow("%s", reply.ack) << "{\"ack\":\"" + QByteArray(reply.ack) + "\"}" << true;
    QTest::newRow("lbx.info") << QByteArray(
        R"({"ack":"lbx.info","arg":{"uuid":"first","baud":9600}})")
                              << false;
}

// Thousands of replies in a stream: boxes stack only up to the bound, every
// datagram is still logged, and the tool works afterwards.
void CommandsTest::floodOfReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, opensBoxes);
    constexpr int total = 3000, batch = 50;
    BoxCatcher boxes(BoxCatcher::leaveOpen());
    int sent = 0;
    auto received = [this] {
        return int(debug->withWord(QStringLiteral("onRecvData")).size());
    };
    // Ticks in whatever event loop is innermost, the boxes' included: sends a
    // batch once the last one has been read, then closes the boxes one by one.
    QTimer driver;
    connect(&driver, &QTimer::timeout, this, [&] {
        if (received() < sent)
            return;
        if (sent < total) {
            for (int i = 0; i < batch; ++i)
                converters->send(i % 2, reply);
            sent += batch;
            return;
        }
        BoxCatcher::escapeTopBox();
    });
    driver.start(1);
    QTRY_VERIFY_WITH_TIMEOUT(sent == total && received() == total && boxes.openNow() == 0, 60000);
    driver.stop();

    if (opensBoxes) {
        QCOMPARE(boxes.mostOpen(), LBXForm::maxReplyBoxes);
        QVERIFY(boxes.boxes.size() >= LBXForm::maxReplyBoxes);
        QVERIFY(boxes.boxes.size() < total);
    } else {
        QCOMPARE(boxes.boxes.size(), 0);
        QCOMPARE(box("uuidBox")->count(), 2);
    }

    QTest::mouseClick(button("searchBtn"), Qt::LeftButton);
    QVERIFY(converters->waitForBroadcast(2));
    converters->send(0, R"({"ack":"lbx.info","arg":{"uuid":"still here"}})");
    QTRY_COMPARE(box("uuidBox")->count(), 1);
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
