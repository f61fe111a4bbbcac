// The bytes on the wire and how replies and device records are read, without
// any socket or widget.

#include "lbxform.h"
#include "protocol.h"

#include <QJsonDocument>
#include <QTest>

using Protocol::Reply;
Q_DECLARE_METATYPE(Protocol::Reply)

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void fixedRequests_data();
    void fixedRequests();
    void setRequest_data();
    void setRequest();
    void replyRecognition_data();
    void replyRecognition();
    void deviceRecord_data();
    void deviceRecord();
    void detailTexts_data();
    void detailTexts();
};

void ProtocolTest::fixedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("info") << QByteArray(Protocol::infoRequest)
                          << QByteArray("{\"call\":\"lbx.info\"}");
    QTest::newRow("uploadLog") << QByteArray(Protocol::uploadLogRequest)
                               << QByteArray("{\"call\":\"lbx.uploadLog\"}");
    QTest::newRow("update") << QByteArray(Protocol::updateRequest)
                            << QByteArray("{\"call\":\"lbx.update\"}");
    QTest::newRow("factory") << QByteArray(Protocol::factoryRequest)
                             << QByteArray("{\"call\":\"lbx.factory\"}");
}

void ProtocolTest::fixedRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    QCOMPARE(request, expected);
    QCOMPARE(Protocol::converterPort, quint16(12166));
}

void ProtocolTest::setRequest_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("protocolIndex");
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("115200, network bytes")
        << "115200" << 0
        << QByteArray(R"({"arg":{"baud":115200,"pluginName":"OvUdp485"},"call":"lbx.set"})");
    QTest::newRow("9600, 485 bytes")
        << "9600" << 1
        << QByteArray(R"({"arg":{"baud":9600,"pluginName":"OvCom485"},"call":"lbx.set"})");
    QTest::newRow("4800, JSON")
        << "4800" << 2
        << QByteArray(R"({"arg":{"baud":4800,"pluginName":"OvTcp485"},"call":"lbx.set"})");
    QTest::newRow("19200, VEXO")
        << "19200" << 3
        << QByteArray(R"({"arg":{"baud":19200,"pluginName":"Net485"},"call":"lbx.set"})");
    QTest::newRow("38400, other")
        << "38400" << 4 << QByteArray(R"({"arg":{"baud":38400,"pluginName":""},"call":"lbx.set"})");
    QTest::newRow("no protocol entry")
        << "38400" << -1 << QByteArray(R"({"arg":{"baud":38400},"call":"lbx.set"})");
    QTest::newRow("index beyond the table")
        << "4800" << 5 << QByteArray(R"({"arg":{"baud":4800},"call":"lbx.set"})");
    QTest::newRow("fraction truncated")
        << "9600.9" << 0
        << QByteArray(R"({"arg":{"baud":9600,"pluginName":"OvUdp485"},"call":"lbx.set"})");
    QTest::newRow("negative toward zero")
        << "-1.5" << 0
        << QByteArray(R"({"arg":{"baud":-1,"pluginName":"OvUdp485"},"call":"lbx.set"})");
    QTest::newRow("not a number")
        << "fast" << 0
        << QByteArray(R"({"arg":{"baud":0,"pluginName":"OvUdp485"},"call":"lbx.set"})");
    QTest::newRow("beyond int saturates")
        << "1e12" << 0
        << QByteArray(R"({"arg":{"baud":2147483647,"pluginName":"OvUdp485"},"call":"lbx.set"})");
}

void ProtocolTest::setRequest()
{
    QFETCH(QString, baud);
    QFETCH(int, protocolIndex);
    QFETCH(QByteArray, datagram);
    QCOMPARE(Protocol::datagram(Protocol::setRequest(baud, protocolIndex, pluginMap)), datagram);
}

void ProtocolTest::replyRecognition_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<Reply>("reply");
    QTest::newRow("info") << QByteArray(R"({"ack":"lbx.info","arg":{}})") << Reply::Info;
    QTest::newRow("set") << QByteArray(R"({"ack":"lbx.set"})") << Reply::Set;
    QTest::newRow("uploadLog") << QByteArray(R"({"ack":"lbx.uploadLog"})") << Reply::UploadLog;
    QTest::newRow("update") << QByteArray(R"({"ack":"lbx.update"})") << Reply::Update;
    QTest::newRow("factory") << QByteArray(R"({"ack":"lbx.factory","x":1})") << Reply::Factory;
    QTest::newRow("other case") << QByteArray(R"({"ack":"LBX.INFO"})") << Reply::Unknown;
    QTest::newRow("uploadlog lower case")
        << QByteArray(R"({"ack":"lbx.uploadlog"})") << Reply::Unknown;
    QTest::newRow("leading blank") << QByteArray(R"({"ack":" lbx.set"})") << Reply::Unknown;
    QTest::newRow("trailing blank") << QByteArray(R"({"ack":"lbx.set "})") << Reply::Unknown;
    QTest::newRow("prefix only") << QByteArray(R"({"ack":"lbx."})") << Reply::Unknown;
    QTest::newRow("a number") << QByteArray(R"({"ack":5})") << Reply::Unknown;
    QTest::newRow("a whole number datagram") << QByteArray("5") << Reply::Unknown;
    QTest::newRow("an array") << QByteArray(R"([{"ack":"lbx.set"}])") << Reply::Unknown;
    QTest::newRow("ack in an array") << QByteArray(R"({"ack":["lbx.set"]})") << Reply::Unknown;
    QTest::newRow("not JSON") << QByteArray("lbx.set") << Reply::Unknown;
    QTest::newRow("truncated JSON") << QByteArray(R"({"ack":"lbx.set")") << Reply::Unknown;
    QTest::newRow("missing ack") << QByteArray(R"({"arg":{}})") << Reply::Unknown;
    QTest::newRow("a request") << QByteArray(R"({"call":"lbx.info"})") << Reply::Unknown;
    QTest::newRow("empty") << QByteArray() << Reply::Unknown;
    QTest::newRow("whitespace around") << QByteArray(" {\"ack\":\"lbx.set\"}\n") << Reply::Set;
    QTest::newRow("ack named twice")
        << QByteArray(R"({"ack":"lbx.set","ack":"lbx.set"})") << Reply::Unknown;
    QTest::newRow("a container named twice")
        << QByteArray(R"({"ack":"lbx.set","a":[1],"a":1})") << Reply::Unknown;
    QTest::newRow("twice in arg") << QByteArray(R"({"ack":"lbx.info","arg":{"b":{"c":1},"b":{}}})")
                                  << Reply::Unknown;
    QTest::newRow("twice, once escaped")
        << QByteArray(R"({"ack":"lbx.set","a":{},"\u0061":{}})") << Reply::Unknown;
    QTest::newRow("twice, deep in an array")
        << QByteArray(R"({"ack":"lbx.set","l":[[{"k":[],"k":0}]]})") << Reply::Unknown;
    QTest::newRow("same name in two objects")
        << QByteArray(R"({"ack":"lbx.set","l":[{"a":1},{"a":1}],"arg":{"ack":1}})") << Reply::Set;
    QTest::newRow("a value equal to a name")
        << QByteArray(R"({"ack":"lbx.set","x":"ack","y":["ack"]})") << Reply::Set;
    QTest::newRow("an escaped control is not its letter")
        << QByteArray(R"({"ack":"lbx.set","a\n":1,"an":2,"b\t":3,"bt":4})") << Reply::Set;
    QTest::newRow("twice, once with an escaped slash")
        << QByteArray(R"({"ack":"lbx.set","a/":{},"a\/":{}})") << Reply::Unknown;
    QTest::newRow("escaped quote in a name")
        << QByteArray(R"({"a\"":1,"a":2,"ack":"lbx.set"})") << Reply::Set;
    QTest::newRow("braces inside strings")
        << QByteArray(R"({"ack":"lbx.set","x":"{\"ack\":1,","ack2":"}"})") << Reply::Set;
}

void ProtocolTest::replyRecognition()
{
    QFETCH(QByteArray, datagram);
    QFETCH(Reply, reply);
    QCOMPARE(Protocol::replyKind(Protocol::replyObject(datagram)), reply);
}

void ProtocolTest::deviceRecord_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("IPv4 sender") << QByteArray(
        R"({"ack":"lbx.info","arg":{"uuid":"A","baud":9600}})")
                                 << "10.0.0.7"
                                 << QByteArray(R"({"baud":9600,"ip":"10.0.0.7","uuid":"A"})");
    QTest::newRow("IPv4-mapped sender")
        << QByteArray(R"({"ack":"lbx.info","arg":{"uuid":"A"}})") << "::ffff:10.0.0.7"
        << QByteArray(R"({"ip":"10.0.0.7","uuid":"A"})");
    QTest::newRow("its own ip replaced")
        << QByteArray(R"({"ack":"lbx.info","arg":{"ip":"1.2.3.4","x":[1]}})") << "127.0.0.2"
        << QByteArray(R"({"ip":"127.0.0.2","x":[1]})");
    QTest::newRow("no arg") << QByteArray(R"({"ack":"lbx.info"})") << "127.0.0.2"
                            << QByteArray(R"({"ip":"127.0.0.2"})");
    QTest::newRow("arg not an object") << QByteArray(R"({"ack":"lbx.info","arg":"A"})")
                                       << "127.0.0.2" << QByteArray(R"({"ip":"127.0.0.2"})");
}

void ProtocolTest::deviceRecord()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, sender);
    QFETCH(QByteArray, record);
    const QJsonObject arg = Protocol::replyArg(Protocol::replyObject(reply));
    QCOMPARE(Protocol::datagram(Protocol::deviceRecord(arg, sender)), record);
}

// What the detail view shows for a record: uuid, ip, version text, the baud
// entry's text and the protocol entry's index.
void ProtocolTest::detailTexts_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("plugin");
    QTest::newRow("empty record") << QByteArray("{}") << ""
                                  << ""
                                  << "0()"
                                  << "0" << 4;
    QTest::newRow("1.5 with 2.0.1")
        << QByteArray(R"({"uuid":"A","ip":"127.0.0.2","appVersion":1.5,"romVersion":"2.0.1",)"
                      R"("baud":115200,"pluginName":"OvUdp485"})")
        << "A"
        << "127.0.0.2"
        << "1.5(2.0.1)"
        << "115200" << 0;
    QTest::newRow("2.10 with 7") << QByteArray(R"({"appVersion":2.10,"romVersion":"7"})") << ""
                                 << ""
                                 << "2.1(7)"
                                 << "0" << 4;
    QTest::newRow("3 with 1.0") << QByteArray(R"({"appVersion":3,"romVersion":"1.0"})") << ""
                                << ""
                                << "3(1.0)"
                                << "0" << 4;
    QTest::newRow("1250000 in exponent form")
        << QByteArray(R"({"appVersion":1250000,"romVersion":"r"})") << ""
        << ""
        << "1.25e+06(r)"
        << "0" << 4;
    QTest::newRow("six significant digits") << QByteArray(R"({"appVersion":1.23456789})") << ""
                                            << ""
                                            << "1.23457()"
                                            << "0" << 4;
    QTest::newRow("baud 9600.0") << QByteArray(R"({"baud":9600.0,"pluginName":"OvCom485"})") << ""
                                 << ""
                                 << "0()"
                                 << "9600" << 1;
    QTest::newRow("baud 57600") << QByteArray(R"({"baud":57600,"pluginName":"OvTcp485"})") << ""
                                << ""
                                << "0()"
                                << "57600" << 2;
    QTest::newRow("Net485") << QByteArray(R"({"pluginName":"Net485"})") << ""
                            << ""
                            << "0()"
                            << "0" << 3;
    QTest::newRow("empty plug-in name") << QByteArray(R"({"pluginName":""})") << ""
                                        << ""
                                        << "0()"
                                        << "0" << 4;
    QTest::newRow("unknown plug-in") << QByteArray(R"({"pluginName":"OvUdp485 "})") << ""
                                     << ""
                                     << "0()"
                                     << "0" << 4;
    QTest::newRow("wrong JSON types") << QByteArray(
        R"({"uuid":7,"ip":null,"appVersion":"1.5","romVersion":2,"baud":"9600",)"
        R"("pluginName":1})") << ""
                                      << ""
                                      << "0()"
                                      << "0" << 4;
}

void ProtocolTest::detailTexts()
{
    QFETCH(QByteArray, record);
    const QJsonObject object = QJsonDocument::fromJson(record).object();
    QTEST(Protocol::uuidText(object), "uuid");
    QTEST(Protocol::ipText(object), "ip");
    QTEST(Protocol::versionText(object), "version");
    QTEST(Protocol::baudText(object), "baud");
    QTEST(Protocol::pluginIndex(object, pluginMap, 5), "plugin");
}

QTEST_APPLESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
