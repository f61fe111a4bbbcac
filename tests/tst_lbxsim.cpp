// The simulator behaves as the tools expect a converter to: the test plays the
// tool on a real socket and lbxsim runs beside it.

#include "protocol.h"
#include "support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QHostAddress first(QStringLiteral("127.0.0.2"));
const QHostAddress second(QStringLiteral("127.0.0.3"));

} // namespace

Q_DECLARE_METATYPE(QHostAddress)

class SimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { answers.clear(); }
    void broadcastReachesEveryConverterUnicastOne();
    void settingsAndFactoryReset();
    void rejectedSettingsLeaveTheConverterUnchanged_data();
    void rejectedSettingsLeaveTheConverterUnchanged();
    void journalTellsWhatEachConverterDid();
    void journalThatCannotBeWrittenStopsIt();
    void convertersAndNetworksUnlikeTheRest_data();
    void convertersAndNetworksUnlikeTheRest();

private:
    // Sends a request and waits for count answers; returns those that came.
    QList<QJsonObject> ask(
        const QByteArray &request, const QHostAddress &to, int count = 1, int timeoutMs = 5000);
    // The converter's lbx.info arg; empty when it does not answer in time.
    QJsonObject infoOf(const QHostAddress &converter, int timeoutMs = 5000);

    QUdpSocket tool;
    QList<QPair<QHostAddress, QJsonObject>> answers;
};

void SimulatorTest::initTestCase()
{
    QVERIFY(tool.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
    connect(&tool, &QUdpSocket::readyRead, this, [this] {
        while (tool.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = tool.receiveDatagram();
            answers.append({QHostAddress(datagram.senderAddress().toIPv4Address()),
                QJsonDocument::fromJson(datagram.data()).object()});
        }
    });
}

QList<QJsonObject> SimulatorTest::ask(
    const QByteArray &request, const QHostAddress &to, int count, int timeoutMs)
{
    answers.clear();
    tool.writeDatagram(request, to, 12166);
    // Callers compare what came, so a shortfall shows in their checks.
    [[maybe_unused]] const bool enough = QTest::qWaitFor(
        [&] {
            return answers.size() >= count;
        },
        timeoutMs);
    QList<QJsonObject> replies;
    for (const auto &answer : qAsConst(answers))
        replies.append(answer.second);
    return replies;
}

QJsonObject SimulatorTest::infoOf(const QHostAddress &converter, int timeoutMs)
{
    return ask(Protocol::infoRequest, converter, 1, timeoutMs)
        .value(0)
        .value(QStringLiteral("arg"))
        .toObject();
}

void SimulatorTest::broadcastReachesEveryConverterUnicastOne()
{
    SimulatorProcess simulator({"--count", "3", "--verbose"});
    QVERIFY(simulator.started());
    QCOMPARE(ask(Protocol::infoRequest, QHostAddress::Broadcast, 3).size(), 3);
    QStringList from;
    for (const auto &answer : qAsConst(answers))
        from.append(answer.first.toString());
    from.sort();
    QCOMPARE(from, QStringList({"127.0.0.2", "127.0.0.3", "127.0.0.4"}));

    QCOMPARE(ask(Protocol::updateRequest, second).value(0).value(QStringLiteral("ack")),
        QJsonValue(QStringLiteral("lbx.update")));
    QCOMPARE(answers.size(), 1);
    QCOMPARE(answers.constFirst().first, second);
    // Where no converter lives, a unicast reaches none.
    tool.writeDatagram(R"({"arg":{"baud":4800},"call":"lbx.set"})",
        QHostAddress(QStringLiteral("127.0.0.9")), 12166);
    QVERIFY(simulator.waitForOutput(QStringLiteral("no converter at 127.0.0.9: ignored")));
    QCOMPARE(simulator.output().count(QStringLiteral(" in  unicast")), 1);
    QCOMPARE(infoOf(first).value(QStringLiteral("baud")), QJsonValue(9600));
}

void SimulatorTest::settingsAndFactoryReset()
{
    SimulatorProcess simulator({"--restart", "0"});
    QVERIFY(simulator.started());
    const QList<QJsonObject> set
        = ask(R"({"arg":{"baud":115200,"pluginName":"OvTcp485"},"call":"lbx.set"})", second);
    QCOMPARE(set.value(0), QJsonObject({{"ack", "lbx.set"}, {"result", "ok"}}));
    QJsonObject info = infoOf(second);
    QCOMPARE(info.value(QStringLiteral("baud")), QJsonValue(115200));
    QCOMPARE(info.value(QStringLiteral("pluginName")), QJsonValue(QStringLiteral("OvTcp485")));
    QCOMPARE(infoOf(first).value(QStringLiteral("baud")), QJsonValue(9600));
    QCOMPARE(ask(Protocol::factoryRequest, second).value(0), QJsonObject({{"ack", "lbx.factory"}}));
    info = infoOf(second);
    QCOMPARE(info.value(QStringLiteral("baud")), QJsonValue(9600));
    QCOMPARE(info.value(QStringLiteral("pluginName")), QJsonValue(QStringLiteral("OvUdp485")));
}

void SimulatorTest::rejectedSettingsLeaveTheConverterUnchanged_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("error");
    QTest::newRow("baud 57600") << QByteArray(
        R"({"arg":{"baud":57600,"pluginName":"OvTcp485"},"call":"lbx.set"})")
                                << "unsupported baud rate 57600";
    QTest::newRow("baud as text") << QByteArray(R"({"arg":{"baud":"115200"},"call":"lbx.set"})")
                                  << "unsupported baud rate \"115200\"";
    QTest::newRow("the empty plug-in name")
        << QByteArray(R"({"arg":{"baud":4800,"pluginName":""},"call":"lbx.set"})")
        << "unknown plug-in \"\"";
}

void SimulatorTest::rejectedSettingsLeaveTheConverterUnchanged()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, error);
    SimulatorProcess simulator({QStringLiteral("--restart"), QStringLiteral("600000")});
    QVERIFY(simulator.started());
    QCOMPARE(ask(request, second).value(0),
        QJsonObject({{"ack", "lbx.set"}, {"result", "rejected"}, {"error", error}}));
    // Not restarting: it answers at once, unchanged.
    const QJsonObject info = infoOf(second);
    QCOMPARE(info.value(QStringLiteral("baud")), QJsonValue(9600));
    QCOMPARE(info.value(QStringLiteral("pluginName")), QJsonValue(QStringLiteral("OvUdp485")));
}

namespace {

// Each journal line as "converter call did answered baud words".
QStringList journalLines(const QString &path)
{
    QFile file(path);
    QStringList lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.isEmpty())
            continue;
        QStringList fields;
        for (const char *name : {"converter", "call", "did", "answered"})
            fields.append(entry.value(QLatin1String(name)).toVariant().toString());
        fields.append(entry.value("after").toObject().value("baud").toVariant().toString());
        fields.append(entry.value("words").toString());
        lines.append(fields.join(' ').trimmed());
    }
    return lines;
}

} // namespace

// What each converter did with each datagram, in its journal: a setting taken
// though its answer was lost, a setting rejected, silence while restarting.
void SimulatorTest::journalTellsWhatEachConverterDid()
{
    QTemporaryDir folder;
    const QString journal = folder.filePath(QStringLiteral("journal"));
    SimulatorProcess simulator(
        {"--silent-chance", "1", "--restart", "600000", "--journal", journal});
    QVERIFY(simulator.started());
    tool.writeDatagram(R"({"arg":{"baud":4800},"call":"lbx.set"})", second, 12166);
    QTRY_COMPARE(journalLines(journal).size(), 1);
    tool.writeDatagram(R"({"arg":{"baud":57600},"call":"lbx.set"})", first, 12166);
    QTRY_COMPARE(journalLines(journal).size(), 2);
    tool.writeDatagram(Protocol::infoRequest, QHostAddress::Broadcast, 12166);
    QTRY_COMPARE(journalLines(journal),
        QStringList({"2 lbx.set applied false 4800",
            "1 lbx.set rejected false 9600 unsupported baud rate 57600",
            "1 lbx.info answered false 9600", "2 lbx.info ignored-restarting",
            "3 lbx.info answered false 9600"}));
    QVERIFY(answers.isEmpty());
}

// A record with lines missing would let a test believe what did not happen.
void SimulatorTest::journalThatCannotBeWrittenStopsIt()
{
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::MergedChannels);
    simulator.start(QStringLiteral(LBXSIM_PATH), {"--journal", "/dev/full"});
    QByteArray said;
    QTRY_VERIFY((said += simulator.readAll()).contains(" converters on "));
    tool.writeDatagram(Protocol::infoRequest, first, 12166);
    QVERIFY(simulator.waitForFinished(10000));
    QCOMPARE(simulator.exitCode(), 1);
    QVERIFY((said + simulator.readAll()).contains("lbxsim: cannot write the journal /dev/full: "));
}

void SimulatorTest::convertersAndNetworksUnlikeTheRest_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QHostAddress>("to");
    // Each answer as "address ack plug-in" (the plug-in "-" where it reports
    // none), or "address ack result".
    QTest::addColumn<QStringList>("answered");
    QTest::addColumn<int>("lateMs");
    const QByteArray info = Protocol::infoRequest;
    const QHostAddress broadcast(QHostAddress::Broadcast);
    QTest::newRow("its own plug-in, taken back")
        << QStringList{"--count", "1", "--plugin", "1=Modbus485"}
        << QByteArray(R"({"arg":{"baud":4800,"pluginName":"Modbus485"},"call":"lbx.set"})") << first
        << QStringList{"127.0.0.2 lbx.set ok"} << 0;
    QTest::newRow("the empty plug-in, its own")
        << QStringList{"--count", "1", "--plugin", "1="} << info << first
        << QStringList{"127.0.0.2 lbx.info \"\""} << 0;
    QTest::newRow("no plug-in at all") << QStringList{"--count", "1", "--no-plugin", "1"} << info
                                       << first << QStringList{"127.0.0.2 lbx.info -"} << 0;
    QTest::newRow("answers from another address")
        << QStringList{"--count", "1", "--answers-from", "1=127.0.0.99"} << info << first
        << QStringList{"127.0.0.99 lbx.info \"OvUdp485\""} << 0;
    QTest::newRow("deaf to unicast") << QStringList{"--count", "2", "--broadcast-only", "1"} << info
                                     << first << QStringList{} << 0;
    QTest::newRow("deaf to the broadcast")
        << QStringList{"--count", "2", "--unicast-only", "1"} << info << broadcast
        << QStringList{"127.0.0.3 lbx.info \"OvUdp485\""} << 0;
    QTest::newRow("a late answer")
        << QStringList{"--count", "1", "--late-chance", "1", "--late", "400"} << info << first
        << QStringList{"127.0.0.2 lbx.info \"OvUdp485\""} << 400;
    QTest::newRow("a duplicated answer")
        << QStringList{"--count", "1", "--duplicate-chance", "1"} << info << first
        << QStringList{"127.0.0.2 lbx.info \"OvUdp485\"", "127.0.0.2 lbx.info \"OvUdp485\""} << 0;
}

void SimulatorTest::convertersAndNetworksUnlikeTheRest()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, request);
    QFETCH(QHostAddress, to);
    QFETCH(QStringList, answered);
    QFETCH(int, lateMs);
    SimulatorProcess simulator(options);
    QVERIFY(simulator.started());
    QElapsedTimer clock;
    clock.start();
    ask(request, to, answered.size() + 1, 500 + lateMs);
    QStringList got;
    for (const auto &[from, reply] : qAsConst(answers)) {
        const QJsonValue plugin = reply.value("arg").toObject().value("pluginName");
        got.append(QStringList{from.toString(), reply.value("ack").toString(),
            reply.contains("result")   ? reply.value("result").toString()
                : plugin.isUndefined() ? QStringLiteral("-")
                                       : QString::fromUtf8(QJsonDocument(QJsonArray{plugin})
                                                               .toJson(QJsonDocument::Compact)
                                                               .mid(1)
                                                               .chopped(1))}
                       .join(' '));
    }
    QCOMPARE(got, answered);
    QVERIFY(clock.elapsed() >= lateMs);
}

QTEST_GUILESS_MAIN(SimulatorTest)
#include "tst_lbxsim.moc"
