// The bytes on the wire and how replies and device records are read, without
// any socket or widget.

#include "protocol.h"

#include <QJsonDocument>
#include <QTest>

using Protocol::Reply;
Q_DECLARE_METATYPE(Protocol::Reply)

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void replyRecognition_data();
    void replyRecognition();
    void replyFailure_data();
    void replyFailure();
    void shownText_data();
    void shownText();
};

void ProtocolTest::replyRecognition_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<Reply>("reply");
    QTest::newRow("info") << QByteArray(R"({"ack":"lbx.info","arg":{}})") << Reply::Info;
    QTest::newRow("set") << QByteArray(" {\"ack\":\"lbx.set\"}\n") << Reply::Set;
    QTest::newRow("uploadLog") << QByteArray(R"({"ack":"lbx.uploadLog"})") << Reply::UploadLog;
    QTest::newRow("update") << QByteArray(R"({"ack":"lbx.update"})") << Reply::Update;
    QTest::newRow("factory") << QByteArray(R"({"ack":"lbx.factory","x":1})") << Reply::Factory;
    QTest::newRow("other case") << QByteArray(R"({"ack":"lbx.uploadlog"})") << Reply::Unknown;
    QTest::newRow("an array") << QByteArray(R"([{"ack":"lbx.set"}])") << Reply::Unknown;
    // Qt's parser leaks a container named twice: such a datagram is refused.
    QTest::newRow("named twice") << QByteArray(R"({"ack":"lbx.set","a":[1],"a":1})")
                                 << Reply::Unknown;
    QTest::newRow("twice, once escaped")
        << QByteArray(R"({"ack":"lbx.set","a":{},"\u0061":{}})") << Reply::Unknown;
    QTest::newRow("same name in two objects")
        << QByteArray(R"({"ack":"lbx.set","l":[{"a":1},{"a":1}],"arg":{"ack":1}})") << Reply::Set;
    QTest::newRow("an escaped control is not its letter")
        << QByteArray(R"({"ack":"lbx.set","a\n":1,"an":2})") << Reply::Set;
    // Qt's parser reads 1,024 levels and no more; deeper text is not even scanned.
    const QByteArray open(1023, '['), close(1023, ']');
    QTest::newRow("nested as deep as the parser reads")
        << QByteArray(R"({"ack":"lbx.set","a":)" + open + close + "}") << Reply::Set;
    QTest::newRow("nested deeper")
        << QByteArray(R"({"ack":"lbx.set","a":[)" + open + close + "]}") << Reply::Unknown;
    QTest::newRow("braces and quotes inside strings")
        << QByteArray(R"({"a\"":1,"a":"{\"ack\":1,","ack":"lbx.set"})") << Reply::Set;
}

void ProtocolTest::replyRecognition()
{
    QFETCH(QByteArray, datagram);
    QTEST(Protocol::replyKind(Protocol::replyObject(datagram)), "reply");
}

void ProtocolTest::replyFailure_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("failure");
    QTest::newRow("bare acknowledgement") << QByteArray(R"({"ack":"lbx.set"})") << "";
    QTest::newRow("ok") << QByteArray(R"({"result":"OK"})") << "";
    QTest::newRow("rejected") << QByteArray(R"({"result":"rejected"})") << "result \"rejected\"";
    QTest::newRow("false") << QByteArray(R"({"result":false})") << "result false";
    QTest::newRow("error in any form")
        << QByteArray(R"({"result":"ok","error":{"code":7}})") << "error {\"code\":7}";
}

void ProtocolTest::replyFailure()
{
    QFETCH(QByteArray, reply);
    QTEST(Protocol::replyFailure(QJsonDocument::fromJson(reply).object()), "failure");
}

// A long uuid or version is shown cut, never inside a character.
void ProtocolTest::shownText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    const QString a255(255, QLatin1Char('a'));
    const QString ellipsis = QString::fromUtf8("…");
    QTest::newRow("256 shown whole") << a255 + "b" << a255 + "b";
    QTest::newRow("257 cut to 255 and the ellipsis") << a255 + "bc" << a255 + ellipsis;
    // U+1F600 is two UTF-16 units; the pair would straddle the cut.
    const QString a254(254, QLatin1Char('a'));
    QTest::newRow("surrogate pair kept whole") << a254 + QString::fromUtf8("😀😀") << a254 + ellipsis;
    QTest::newRow("accent kept with its letter")
        << a254 + QString::fromUtf8("e\u0301xyz") << a254 + ellipsis;
}

void ProtocolTest::shownText()
{
    QFETCH(QString, text);
    QTEST(Protocol::shownText(text), "shown");
}

QTEST_APPLESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
