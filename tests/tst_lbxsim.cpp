// The simulator behaves as the tool expects a converter to: the test plays the
// tool on a real socket and lbxsim runs beside it.

#include "protocol.h"
#include "support.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTest>

namespace {

const QHostAddress second(QStringLiteral("127.0.0.3"));

struct Answer
{
    QHostAddress from;
    QJsonObject reply;
};

} // namespace

class SimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void broadcastReachesEveryConverter();
    void unicastReachesOneConverterOnly();
    void acceptedSettingsAndFactoryReset();
    void rejectedSettingsLeaveTheConverterUnchanged_data();
    void rejectedSettingsLeaveTheConverterUnchanged();
    void unicastWhereNoConverterLivesReachesNone();
    void silentConverterStaysSilent();
    void lostAnswerStillRestarts_data();
    void lostAnswerStillRestarts();
    void sharedAndEmptyUuids();
    void converterThatKeepsItsSettings();
    void updateRaisesTheVersionAfterTheRestart();
    void factoryResetComesBackElsewhere();
    void restartingConverterIsSilent();
    void maintenanceCallsAreAnswered_data();
    void maintenanceCallsAreAnswered();
    void badOptions_data();
    void badOptions();
    void addressItCannotBind();
    void helpExplainsTheOptions();

private:
    void send(const QByteArray &request, const QHostAddress &to);
    QList<Answer> waitForAnswers(int count, int timeoutMs = 5000);
    // Empty when the converter does not answer within the time.
    QJsonObject infoOf(const QHostAddress &converter, int timeoutMs = 5000);

    QUdpSocket tool;
    QList<Answer> answers;
};

void SimulatorTest::init()
{
    answers.clear();
    if (tool.state() == QAbstractSocket::BoundState)
        return;
    QVERIFY(tool.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
    connect(&tool, &QUdpSocket::readyRead, this, [this] {
        while (tool.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = tool.receiveDatagram();
            answers.append(
                {datagram.senderAddress(), QJsonDocument::fromJson(datagram.data()).object()});
        }
    });
}

void SimulatorTest::send(const QByteArray &request, const QHostAddress &to)
{
    answers.clear();
    tool.writeDatagram(request, to, 12166);
}

QList<Answer> SimulatorTest::waitForAnswers(int count, int timeoutMs)
{
    // Callers compare the count, so a shortfall shows in their check.
    [[maybe_unused]] const bool enough = QTest::qWaitFor(
        [&] {
            return answers.size() >= count;
        },
        timeoutMs);
    return answers;
}

QJsonObject SimulatorTest::infoOf(const QHostAddress &converter, int timeoutMs)
{
    send(Protocol::infoRequest, converter);
    const QList<Answer> got = waitForAnswers(1, timeoutMs);
    return got.isEmpty() ? QJsonObject()
                         : got.constFirst().reply.value(QStringLiteral("arg")).toObject();
}

void SimulatorTest::broadcastReachesEveryConverter()
{
    SimulatorProcess simulator({QStringLiteral("--count"), QStringLiteral("3")});
    QVERIFY(simulator.started());
    send(Protocol::infoRequest, QHostAddress::Broadcast);
    const QList<Answer> got = waitForAnswers(3);
    QCOMPARE(got.size(), 3);
    QStringList from;
    for (const Answer &answer : got) {
        from.append(answer.from.toString());
        QCOMPARE(answer.reply.value(QStringLiteral("ack")).toString(), QStringLiteral("lbx.info"));
        const QJsonObject arg = answer.reply.value(QStringLiteral("arg")).toObject();
        QVERIFY(arg.value(QStringLiteral("uuid")).isString());
        QVERIFY(arg.value(QStringLiteral("romVersion")).isString());
        QVERIFY(arg.value(QStringLiteral("appVersion")).isDouble());
        QCOMPARE(arg.value(QStringLiteral("baud")).toInt(), 9600);
        QCOMPARE(arg.value(QStringLiteral("pluginName")).toString(), QStringLiteral("OvUdp485"));
    }
    from.sort();
    QCOMPARE(from, QStringList({"127.0.0.2", "127.0.0.3", "127.0.0.4"}));
}

void SimulatorTest::unicastReachesOneConverterOnly()
{
    SimulatorProcess simulator({QStringLiteral("-v")});
    QVERIFY(simulator.started());
    send(Protocol::infoRequest, second);
    QVERIFY(simulator.waitForOutput(QStringLiteral("out to")));
    QCOMPARE(waitForAnswers(1).size(), 1);
    QCOMPARE(answers.constFirst().from, second);
    QCOMPARE(simulator.output().count(QStringLiteral(" in  ")), 1);
    QVERIFY(simulator.output().contains(QStringLiteral("127.0.0.3 LBXSIM000002: in  unicast")));
}

void SimulatorTest::acceptedSettingsAndFactoryReset()
{
    SimulatorProcess simulator({});
    QVERIFY(simulator.started());
    send(R"({"arg":{"baud":115200,"pluginName":"OvTcp485"},"call":"lbx.set"})", second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    QCOMPARE(answers.constFirst().reply.value(QStringLiteral("ack")).toString(),
        QStringLiteral("lbx.set"));
    QCOMPARE(answers.constFirst().reply.value(QStringLiteral("result")).toString(),
        QStringLiteral("ok"));
    QJsonObject info = infoOf(second);
    QCOMPARE(info.value(QStringLiteral("baud")).toInt(), 115200);
    QCOMPARE(info.value(QStringLiteral("pluginName")).toString(), QStringLiteral("OvTcp485"));
    QCOMPARE(
        infoOf(QHostAddress(QStringLiteral("127.0.0.2"))).value(QStringLiteral("baud")).toInt(),
        9600);

    send(R"({"arg":{"baud":4800},"call":"lbx.set"})", second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    info = infoOf(second);
    QCOMPARE(info.value(QStringLiteral("baud")).toInt(), 4800);
    QCOMPARE(info.value(QStringLiteral("pluginName")).toString(), QStringLiteral("OvTcp485"));

    send(Protocol::factoryRequest, second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    QCOMPARE(answers.constFirst().reply.value(QStringLiteral("ack")).toString(),
        QStringLiteral("lbx.factory"));
    info = infoOf(second);
    QCOMPARE(info.value(QStringLiteral("baud")).toInt(), 9600);
    QCOMPARE(info.value(QStringLiteral("pluginName")).toString(), QStringLiteral("OvUdp485"));
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
    QTest::newRow("baud with a fraction")
        << QByteArray(R"({"arg":{"baud":9600.5},"call":"lbx.set"})")
        << "unsupported baud rate 9600.5";
    QTest::newRow("no baud") << QByteArray(R"({"arg":{"pluginName":"Net485"},"call":"lbx.set"})")
                             << "unsupported baud rate (none)";
    QTest::newRow("unknown plug-in")
        << QByteArray(R"({"arg":{"baud":4800,"pluginName":"Foo"},"call":"lbx.set"})")
        << "unknown plug-in \"Foo\"";
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
    send(request, second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    const QJsonObject reply = answers.constFirst().reply;
    QCOMPARE(reply.value(QStringLiteral("ack")).toString(), QStringLiteral("lbx.set"));
    QCOMPARE(reply.value(QStringLiteral("result")).toString(), QStringLiteral("rejected"));
    QCOMPARE(reply.value(QStringLiteral("error")).toString(), error);
    QVERIFY(simulator.waitForOutput(QStringLiteral("rejects lbx.set: ") + error));
    // A rejected setting does not restart it: it answers at once, unchanged.
    const QJsonObject info = infoOf(second);
    QCOMPARE(info.value(QStringLiteral("baud")).toInt(), 9600);
    QCOMPARE(info.value(QStringLiteral("pluginName")).toString(), QStringLiteral("OvUdp485"));
}

void SimulatorTest::unicastWhereNoConverterLivesReachesNone()
{
    SimulatorProcess simulator({QStringLiteral("-v")});
    QVERIFY(simulator.started());
    send(R"({"arg":{"baud":115200},"call":"lbx.set"})", QHostAddress(QStringLiteral("127.0.0.9")));
    QVERIFY(simulator.waitForOutput(QStringLiteral("no converter at 127.0.0.9: ignored")));
    QCOMPARE(simulator.output().count(QStringLiteral(" in  ")), 0);
    QCOMPARE(infoOf(second).value(QStringLiteral("baud")).toInt(), 9600);
}

void SimulatorTest::silentConverterStaysSilent()
{
    SimulatorProcess simulator(
        {QStringLiteral("-v"), QStringLiteral("--silent-chance"), QStringLiteral("1")});
    QVERIFY(simulator.started());
    send(Protocol::infoRequest, QHostAddress::Broadcast);
    send(Protocol::infoRequest, second);
    QVERIFY(simulator.waitForOutput(QStringLiteral("127.0.0.3 LBXSIM000002: in  unicast")));
    QTRY_COMPARE(simulator.output().count(QStringLiteral("does not answer")), 4);
    // Any reply would have been sent before the simulator said so.
    QCoreApplication::processEvents();
    QCOMPARE(answers.size(), 0);
    QVERIFY(!simulator.output().contains(QStringLiteral("out to")));
}

void SimulatorTest::restartingConverterIsSilent()
{
    SimulatorProcess simulator(
        {QStringLiteral("-v"), QStringLiteral("--restart"), QStringLiteral("600000")});
    QVERIFY(simulator.started());
    send(Protocol::factoryRequest, second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    send(Protocol::infoRequest, QHostAddress::Broadcast);
    QVERIFY(simulator.waitForOutput(QStringLiteral("127.0.0.3 LBXSIM000002: silent: restarting")));
    QCOMPARE(waitForAnswers(2).size(), 2);
    for (const Answer &answer : answers)
        QVERIFY(answer.from != second);
}

void SimulatorTest::lostAnswerStillRestarts_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("set") << QByteArray(R"({"arg":{"baud":4800},"call":"lbx.set"})");
    QTest::newRow("factory") << QByteArray(Protocol::factoryRequest);
}

void SimulatorTest::lostAnswerStillRestarts()
{
    QFETCH(QByteArray, request);
    SimulatorProcess simulator({"-v", "--silent-chance", "1", "--restart", "600000"});
    QVERIFY(simulator.started());
    send(request, second);
    QVERIFY(simulator.waitForOutput(QStringLiteral("does not answer")));
    send(Protocol::infoRequest, second);
    QVERIFY(simulator.waitForOutput(QStringLiteral("LBXSIM000002: silent: restarting")));
}

void SimulatorTest::sharedAndEmptyUuids()
{
    SimulatorProcess simulator({"--uuid", "1=", "--uuid", "2=SAME", "--uuid", "3=SAME"});
    QVERIFY(simulator.started());
    send(Protocol::infoRequest, QHostAddress::Broadcast);
    QStringList uuids;
    for (const Answer &answer : waitForAnswers(3)) {
        uuids.append(answer.reply.value(QStringLiteral("arg"))
                         .toObject()
                         .value(QStringLiteral("uuid"))
                         .toString());
    }
    uuids.sort();
    QCOMPARE(uuids, QStringList({"", "SAME", "SAME"}));
}

void SimulatorTest::converterThatKeepsItsSettings()
{
    SimulatorProcess simulator({"--keeps-settings", "2"});
    QVERIFY(simulator.started());
    send(R"({"arg":{"baud":115200},"call":"lbx.set"})", second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    QCOMPARE(answers.constFirst().reply.value(QStringLiteral("result")).toString(),
        QStringLiteral("ok"));
    QVERIFY(simulator.waitForOutput(QStringLiteral("acknowledges lbx.set but keeps")));
    QCOMPARE(infoOf(second).value(QStringLiteral("baud")).toInt(), 9600);
}

void SimulatorTest::updateRaisesTheVersionAfterTheRestart()
{
    SimulatorProcess simulator({"--update-to", "1.6", "--restart", "300"});
    QVERIFY(simulator.started());
    send(Protocol::updateRequest, second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    QVERIFY(infoOf(second, 100).isEmpty());
    QTRY_COMPARE(infoOf(second, 100).value(QStringLiteral("appVersion")).toDouble(), 1.6);
    QCOMPARE(infoOf(QHostAddress(QStringLiteral("127.0.0.2")))
                 .value(QStringLiteral("appVersion"))
                 .toDouble(),
        1.5);
}

void SimulatorTest::factoryResetComesBackElsewhere()
{
    SimulatorProcess simulator({"--factory-address", "127.0.0.50", "--restart", "300"});
    QVERIFY(simulator.started());
    send(R"({"arg":{"baud":4800},"call":"lbx.set"})", second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    QTRY_VERIFY(!infoOf(second, 100).isEmpty()); // back from the restart after the setting
    send(Protocol::factoryRequest, second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    QCOMPARE(answers.constFirst().from, second);
    const QHostAddress moved(QStringLiteral("127.0.0.50"));
    QTRY_COMPARE(infoOf(moved, 100).value(QStringLiteral("uuid")).toString(),
        QStringLiteral("LBXSIM000002"));
    QCOMPARE(infoOf(moved).value(QStringLiteral("baud")).toInt(), 9600);
    QVERIFY(infoOf(second, 300).isEmpty());
}

void SimulatorTest::maintenanceCallsAreAnswered_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("ack");
    QTest::newRow("upload log") << QByteArray(Protocol::uploadLogRequest) << "lbx.uploadLog";
    QTest::newRow("update") << QByteArray(Protocol::updateRequest) << "lbx.update";
}

void SimulatorTest::maintenanceCallsAreAnswered()
{
    QFETCH(QByteArray, request);
    SimulatorProcess simulator({});
    QVERIFY(simulator.started());
    send(request, second);
    QCOMPARE(waitForAnswers(1).size(), 1);
    QTEST(answers.constFirst().reply.value(QStringLiteral("ack")).toString(), "ack");
    QCOMPARE(answers.constFirst().from, second);
}

void SimulatorTest::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("count 0") << QStringList{"--count", "0"}
                             << "--count takes a whole number from 1 to 60000";
    QTest::newRow("count text") << QStringList{"-n", "three"} << "--count takes a whole number";
    QTest::newRow("base not IPv4")
        << QStringList{"--base", "::1"} << "--base takes an IPv4 address";
    QTest::newRow("base too high")
        << QStringList{"--base", "255.255.255.254", "-n", "5"} << "leaves no room";
    QTest::newRow("negative delay")
        << QStringList{"--delay", "-1"} << "--delay takes a whole number";
    QTest::newRow("chance above 1")
        << QStringList{"--silent-chance", "1.5"} << "--silent-chance takes a number from 0 to 1";
    QTest::newRow("unknown option") << QStringList{"--fast"} << "Unknown option 'fast'";
    QTest::newRow("stray argument") << QStringList{"now"} << "unexpected argument \"now\"";
    QTest::newRow("uuid of no converter") << QStringList{"--uuid", "4=X"} << "--uuid takes N=TEXT";
    QTest::newRow("uuid without =") << QStringList{"--uuid", "2"} << "--uuid takes N=TEXT";
    QTest::newRow("keeps settings, no number")
        << QStringList{"--keeps-settings", "x"} << "--keeps-settings takes a converter number";
    QTest::newRow("update to text")
        << QStringList{"--update-to", "new"} << "--update-to takes a version number";
}

void SimulatorTest::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess process;
    process.start(QStringLiteral(LBXSIM_PATH), arguments);
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY(process.exitCode() != 0);
    const QString error = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(error.contains(message), qPrintable(error));
}

void SimulatorTest::addressItCannotBind()
{
    QProcess process;
    process.start(
        QStringLiteral(LBXSIM_PATH), {QStringLiteral("--base"), QStringLiteral("192.0.2.1")});
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitCode(), 1);
    const QString error = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(error.startsWith(QStringLiteral("lbxsim: cannot listen on 192.0.2.1:12166: ")),
        qPrintable(error));
}

void SimulatorTest::helpExplainsTheOptions()
{
    QProcess process;
    process.start(QStringLiteral(LBXSIM_PATH), {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    for (const char *option :
        {"--count", "--base", "--delay", "--silent-chance", "--restart", "--verbose", "--seed",
            "--uuid", "--keeps-settings", "--update-to", "--factory-address"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
}

QTEST_GUILESS_MAIN(SimulatorTest)
#include "tst_lbxsim.moc"
