// The receive path on a real socket: the test is a converter in the sandbox
// that sends whatever it likes to the port the tool searched from.

#include "lbxform.h"
#include "support.h"

#include <QComboBox>
#include <QTest>

namespace {
const QString sourceFile = QStringLiteral("lbxform.cpp");
const QString receiveFunction = QStringLiteral("void LBXForm::onRecvData()");
} // namespace

class ReceiveTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void searchLeavesItsLines();
    void everyDatagramIsLoggedInArrivalOrder();
    void zeroLengthDatagramLeavesNoLine();
    void infoReplyLogsItsArg();

private:
    std::unique_ptr<DebugLines> debug;
    std::unique_ptr<FakeConverters> converters;
    std::unique_ptr<LBXForm> form;
};

void ReceiveTest::init()
{
    debug = std::make_unique<DebugLines>();
    converters = std::make_unique<FakeConverters>(2);
    form = std::make_unique<LBXForm>();
    form->show();
    QVERIFY(converters->waitForBroadcast());
}

void ReceiveTest::cleanup()
{
    form.reset();
    converters.reset();
    debug.reset();
}

void ReceiveTest::searchLeavesItsLines()
{
    const QByteArray infoRequest = R"({"call":"lbx.info"})";
    QCOMPARE(converters->broadcasts().constFirst().bytes, infoRequest);
    QCOMPARE(debug->lines.size(), 2);
    const DebugLine search = debug->lines.at(0);
    QCOMPARE(search.message, QStringLiteral("search"));
    QCOMPARE(search.file, sourceFile);
    QCOMPARE(search.line, 61);
    QCOMPARE(search.function, QStringLiteral("void LBXForm::search()"));
    QCOMPARE(search.category, QStringLiteral("default"));
    const DebugLine send = debug->lines.at(1);
    const QString sendLine
        = QString::fromUtf8(R"(sendData "{\"call\":\"lbx.info\"}" "255.255.255.255" 12166)");
    QCOMPARE(send.message, sendLine);
    QCOMPARE(send.file, sourceFile);
    QCOMPARE(send.line, 126);
    QCOMPARE(send.function,
        QStringLiteral("void LBXForm::sendData(const QByteArray&, const QHostAddress&, quint16)"));
    QCOMPARE(send.category, QStringLiteral("default"));
}

// Sent back to back, before the tool reads any of them.
void ReceiveTest::everyDatagramIsLoggedInArrivalOrder()
{
    const QList<QByteArray> datagrams = {
        "not JSON at all",
        R"([{"ack":"lbx.set"}])",
        R"({"ack":"LBX.SET"})",
        R"({"ack":" lbx.set"})",
        R"({"ack":5})",
        R"({"call":"lbx.info"})",
        R"({"ack":"lbx.info","arg":{"uuid":"first"}})",
        R"({"ack":"lbx.info","arg":{"uuid":"second"}})",
    };
    debug->lines.clear();
    for (const QByteArray &datagram : datagrams)
        converters->send(0, datagram);
    QTRY_COMPARE(debug->withWord(QStringLiteral("onRecvData")).size(), datagrams.size());

    const QList<DebugLine> received = debug->withWord(QStringLiteral("onRecvData"));
    QStringList expected;
    for (const QByteArray &datagram : datagrams) {
        QByteArray quoted = datagram;
        quoted.replace('"', "\\\"");
        expected.append(QStringLiteral("onRecvData \"%1\"").arg(QString::fromUtf8(quoted)));
    }
    QStringList messages;
    for (const DebugLine &line : received) {
        messages.append(line.message);
        QCOMPARE(line.file, sourceFile);
        QCOMPARE(line.line, 138);
        QCOMPARE(line.function, receiveFunction);
        QCOMPARE(line.category, QStringLiteral("default"));
    }
    QCOMPARE(messages, expected);
    // Only the two info replies were acted on, in the order they came.
    auto *uuidBox = widget<QComboBox>(form.get(), "uuidBox");
    QCOMPARE(uuidBox->count(), 2);
    QCOMPARE(uuidBox->itemText(0), QStringLiteral("first"));
    QCOMPARE(uuidBox->itemText(1), QStringLiteral("second"));
}

void ReceiveTest::zeroLengthDatagramLeavesNoLine()
{
    debug->lines.clear();
    converters->send(0, QByteArray());
    converters->send(1, QByteArray());
    converters->send(0, "after");
    QTRY_COMPARE(debug->lines.size(), 1);
    QCOMPARE(debug->lines.constFirst().message, QStringLiteral("onRecvData \"after\""));
}

void ReceiveTest::infoReplyLogsItsArg()
{
    debug->lines.clear();
    converters->send(1, R"({"ack":"lbx.info","arg":{"uuid":"A","ip":"1.2.3.4","baud":9600}})");
    QTRY_COMPARE(debug->lines.size(), 2);
    const DebugLine arg = debug->lines.at(1);
    // As the converter sent it: its own "ip" is replaced only in the stored record.
    const QString argLine
        = QString::fromUtf8(R"(QJsonObject({"baud":9600,"ip":"1.2.3.4","uuid":"A"}))");
    QCOMPARE(arg.message, argLine);
    QCOMPARE(arg.file, sourceFile);
    QCOMPARE(arg.line, 145);
    QCOMPARE(arg.function, receiveFunction);
    QCOMPARE(arg.category, QStringLiteral("default"));
}

QTEST_MAIN(ReceiveTest)
#include "tst_receive.moc"
