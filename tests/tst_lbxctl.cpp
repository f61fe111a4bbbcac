// lbxctl as a technician scripts it, and as a hostile host would answer it:
// against simulated converters and scripted ones in the sandbox.

#include "support.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// lbxctl as its own process, while this one's event loop keeps the simulated
// and scripted converters answering.
class Lbxctl
{
public:
    explicit Lbxctl(const QStringList &arguments, const QString &outputFile = {})
    {
        if (!outputFile.isEmpty())
            process.setStandardOutputFile(outputFile);
        process.start(QStringLiteral(LBXCTL_PATH), arguments);
    }
    ~Lbxctl()
    {
        process.kill();
        process.waitForFinished();
    }
    QString outputSoFar()
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        return out;
    }
    bool running() const { return process.state() != QProcess::NotRunning; }
    void interrupt() { ::kill(pid_t(process.processId()), SIGINT); }
    Run finish()
    {
        Run run;
        if (!QTest::qWaitFor(
                [&] {
                    return !running();
                },
                60000))
            return run;
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = outputSoFar();
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

private:
    QProcess process;
    QString out;
};

Run lbxctl(const QStringList &arguments)
{
    return Lbxctl(arguments).finish();
}

// Quick answers on a quiet sandbox: a short wait is enough.
QStringList quick(QStringList arguments)
{
    return arguments << QStringLiteral("--timeout") << QStringLiteral("0.2");
}

QList<QJsonObject> objects(const Run &run)
{
    QList<QJsonObject> found;
    for (const QString &line : run.lines())
        found.append(QJsonDocument::fromJson(line.toUtf8()).object());
    return found;
}

QMap<QString, QJsonObject> byUuid(const Run &run)
{
    QMap<QString, QJsonObject> found;
    for (const QJsonObject &object : objects(run))
        found.insert(object.value(QStringLiteral("uuid")).toString(), object);
    return found;
}

QString call(const QByteArray &request)
{
    return QJsonDocument::fromJson(request).object().value(QStringLiteral("call")).toString();
}

QByteArray info(int baud, const QString &uuid = QStringLiteral("SCRIPTED"))
{
    return QJsonDocument(
        QJsonObject{{QStringLiteral("ack"), QStringLiteral("lbx.info")},
            {QStringLiteral("arg"),
                QJsonObject{{QStringLiteral("uuid"), uuid},
                    {QStringLiteral("romVersion"), QStringLiteral("1.0")},
                    {QStringLiteral("appVersion"), 1.5}, {QStringLiteral("baud"), baud},
                    {QStringLiteral("pluginName"), QStringLiteral("OvUdp485")}}}})
        .toJson(QJsonDocument::Compact);
}

// A plan file in a folder of its own, removed with it.
class PlanFile
{
public:
    explicit PlanFile(const QByteArray &text)
    {
        QFile file(path());
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }
    QString path() const { return folder.filePath(QStringLiteral("plan")); }

private:
    QTemporaryDir folder;
};

} // namespace

class LbxctlTest : public QObject
{
    Q_OBJECT

private slots:
    void discoverThreeConverters_data();
    void discoverThreeConverters();
    void discoverAsJson();
    void nobodyAnswers();
    void setTwoOfThreeInOneCall();
    void commandsByUuidAndAll_data();
    void commandsByUuidAndAll();
    void convertersSharingAUuidStayApart();
    void targetsThatLookLikeAddresses_data();
    void targetsThatLookLikeAddresses();
    void replyThatSaysItFailed_data();
    void replyThatSaysItFailed();
    void stateChangingCommandNeverSentBlindly_data();
    void stateChangingCommandNeverSentBlindly();
    void silentTargetOfUploadLogIsAskedAgain();
    void largeSiteWithAStockBuffer();
    void forgedTableRows_data();
    void forgedTableRows();
    void linesAppearAsOutcomesAreKnown();
    void interruptSaysWhatWasSent();
    void outputThatCannotBeWritten();
    void waitConfirmsWhatConvertersReport_data();
    void waitConfirmsWhatConvertersReport();
    void waitInJson();
    void applyDryRunSendsNothing();
    void applyConvergesAMixedSiteOnce();
    void applyManyRestartingAtOnce();
    void badPlansAreRefusedWithLineNumbers_data();
    void badPlansAreRefusedWithLineNumbers();
    void siteVisitWithARoster();
    void duplicatesAndExpectedCount();
    void metricsPassThePrometheusParser();
    void csvForASpreadsheet();
    void badInputSendsNothing_data();
    void badInputSendsNothing();
    void helpAndVersion();
};

void LbxctlTest::discoverThreeConverters_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("default search") << QStringList{"discover"};
    QTest::newRow("by host") << QStringList{
        "discover", "--host", "127.0.0.2", "--host", "127.0.0.3", "--host", "127.0.0.4"};
    QTest::newRow("searched twice") << QStringList{"discover", "--retries", "1"};
}

void LbxctlTest::discoverThreeConverters()
{
    QFETCH(QStringList, arguments);
    SimulatorProcess simulator({QStringLiteral("--count"), QStringLiteral("3")});
    QVERIFY(simulator.started());
    const Run run = lbxctl(quick(arguments));
    QCOMPARE(run.status, 0);
    const QStringList lines = run.lines();
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("UUID")));
    for (int n = 1; n <= 3; ++n) {
        const QStringList columns = lines.at(n).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(columns,
            QStringList({QStringLiteral("LBXSIM00000%1").arg(n),
                QStringLiteral("127.0.0.%1").arg(n + 1), "1.5", QStringLiteral("2.0.%1").arg(n),
                "9600", "OvUdp485", QString::fromUtf8("网络字节协议")}));
    }
}

void LbxctlTest::discoverAsJson()
{
    SimulatorProcess simulator({QStringLiteral("--count"), QStringLiteral("3")});
    QVERIFY(simulator.started());
    const Run run = lbxctl(quick({QStringLiteral("discover"), QStringLiteral("--json")}));
    QCOMPARE(run.status, 0);
    QCOMPARE(run.lines().size(), 3);
    const QJsonObject second = byUuid(run).value(QStringLiteral("LBXSIM000002"));
    QCOMPARE(second,
        QJsonDocument::fromJson(
            QString::fromUtf8(R"({"appVersion":1.5,"baud":9600,"caption":"网络字节协议",)"
                              R"("ip":"127.0.0.3","pluginName":"OvUdp485","romVersion":"2.0.2",)"
                              R"("uuid":"LBXSIM000002"})")
                .toUtf8())
            .object());
}

void LbxctlTest::nobodyAnswers()
{
    const Run run
        = lbxctl({QStringLiteral("discover"), QStringLiteral("--timeout"), QStringLiteral("0.2")});
    QCOMPARE(run.status, 1);
    QVERIFY(run.err.contains(QStringLiteral("no converter answered")));
}

void LbxctlTest::setTwoOfThreeInOneCall()
{
    SimulatorProcess simulator({QStringLiteral("--count"), QStringLiteral("3")});
    QVERIFY(simulator.started());
    const Run set = lbxctl(
        quick({"set", "LBXSIM000001", "127.0.0.4", "--baud", "115200", "--plugin", "OvTcp485"}));
    QCOMPARE(set.status, 0);
    QStringList lines = set.lines();
    lines.sort();
    QCOMPARE(lines,
        QStringList({"LBXSIM000001  127.0.0.2        set: answered",
            "LBXSIM000003  127.0.0.4        set: answered"}));

    const QMap<QString, QJsonObject> found = byUuid(lbxctl(quick({"discover", "--json"})));
    QCOMPARE(
        found.value(QStringLiteral("LBXSIM000001")).value(QStringLiteral("baud")).toInt(), 115200);
    QCOMPARE(
        found.value(QStringLiteral("LBXSIM000002")).value(QStringLiteral("baud")).toInt(), 9600);
    QCOMPARE(
        found.value(QStringLiteral("LBXSIM000003")).value(QStringLiteral("pluginName")).toString(),
        QStringLiteral("OvTcp485"));
}

void LbxctlTest::commandsByUuidAndAll_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("simulatorSays");
    QTest::addColumn<int>("converters");
    QTest::newRow("upload-log by uuid")
        << QStringList{"upload-log", "LBXSIM000002"} << "uploads its log" << 1;
    QTest::newRow("update, all") << QStringList{"update", "--all"} << "looks for an update" << 3;
    QTest::newRow("factory, all") << QStringList{"factory", "--all", "--yes"} << "factory reset"
                                  << 3;
    QTest::newRow("set without plug-in") << QStringList{"set", "127.0.0.3", "--baud", "4800"}
                                         << "-> baud 4800, plug-in OvUdp485" << 1;
}

void LbxctlTest::commandsByUuidAndAll()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, simulatorSays);
    QFETCH(int, converters);
    SimulatorProcess simulator({QStringLiteral("--count"), QStringLiteral("3")});
    QVERIFY(simulator.started());
    const Run run = lbxctl(quick(arguments));
    QCOMPARE(run.status, 0);
    QCOMPARE(run.lines().size(), converters);
    for (const QString &line : run.lines())
        QVERIFY2(line.endsWith(QStringLiteral(": answered")), qPrintable(line));
    QTRY_COMPARE(simulator.output().count(simulatorSays), converters);
}

void LbxctlTest::convertersSharingAUuidStayApart()
{
    // Six converters: two say SAME, two say nothing at all.
    SimulatorProcess simulator({"--count", "6", "--uuid", "2=SAME", "--uuid", "3=SAME", "--uuid",
        "4=", "--uuid", "5=", "-v"});
    QVERIFY(simulator.started());

    const Run json = lbxctl(quick({"discover", "--json"}));
    QCOMPARE(json.status, 0);
    QStringList listed;
    for (const QJsonObject &object : objects(json)) {
        listed.append(QStringLiteral("%1@%2%3").arg(object.value(QStringLiteral("uuid")).toString(),
            object.value(QStringLiteral("ip")).toString(),
            object.value(QStringLiteral("sharedUuid")).toBool() ? QStringLiteral(" shared")
                                                                : QString()));
    }
    listed.sort();
    QCOMPARE(listed,
        QStringList({"@127.0.0.5 shared", "@127.0.0.6 shared", "LBXSIM000001@127.0.0.2",
            "LBXSIM000006@127.0.0.7", "SAME@127.0.0.3 shared", "SAME@127.0.0.4 shared"}));
    const Run table = lbxctl(quick({"discover"}));
    QCOMPARE(table.lines().size(), 7);
    QCOMPARE(table.out.count(QStringLiteral("(uuid also at another address)")), 4);
    QCOMPARE(table.out.count(QStringLiteral("\"\" ")), 2);

    const Run ambiguous = lbxctl(quick({"update", "SAME"}));
    QCOMPARE(ambiguous.status, 2);
    QVERIFY2(
        ambiguous.err.contains(QStringLiteral("127.0.0.3, 127.0.0.4")), qPrintable(ambiguous.err));
    QCOMPARE(lbxctl(quick({"update", "uuid:"})).status, 2);
    QVERIFY(!simulator.output().contains(QStringLiteral("looks for an update")));

    const Run byAddress = lbxctl(quick({"update", "ip:127.0.0.4"}));
    QCOMPARE(byAddress.status, 0);
    QTRY_COMPARE(simulator.output().count(QStringLiteral("looks for an update")), 1);
    const Run all = lbxctl(quick({"update", "--all"}));
    QCOMPARE(all.status, 0);
    QCOMPARE(all.lines().size(), 6);
    QTRY_COMPARE(simulator.output().count(QStringLiteral("looks for an update")), 7);
}

void LbxctlTest::targetsThatLookLikeAddresses_data()
{
    QTest::addColumn<QStringList>("uuids");
    QTest::addColumn<QString>("target");
    QTest::newRow("MAC-style uuid") << QStringList{"1=00:1A:2B:3C:4D:5E"} << "00:1A:2B:3C:4D:5E";
    QTest::newRow("all-digit uuid") << QStringList{"1=123456"} << "123456";
    QTest::newRow("three dots, forced") << QStringList{"1=10.20.30.40"} << "uuid:10.20.30.40";
}

void LbxctlTest::targetsThatLookLikeAddresses()
{
    QFETCH(QStringList, uuids);
    QFETCH(QString, target);
    SimulatorProcess simulator({QStringLiteral("--uuid"), uuids.constFirst()});
    QVERIFY(simulator.started());
    const Run run = lbxctl(quick({"upload-log", target}));
    QCOMPARE(run.status, 0);
    QCOMPARE(run.lines().size(), 1);
    QVERIFY2(run.out.contains(QStringLiteral("127.0.0.2        upload-log: answered")),
        qPrintable(run.out));
}

void LbxctlTest::replyThatSaysItFailed_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("rejected") << QByteArray(R"({"ack":"lbx.set","result":"rejected"})") << 1
                              << "set: failed: result \"rejected\"";
    QTest::newRow("error as an object") << QByteArray(R"({"ack":"lbx.set","error":{"code":7}})")
                                        << 1 << "set: failed: error {\"code\":7}";
    QTest::newRow("empty error") << QByteArray(R"({"ack":"lbx.set","error":""})") << 1
                                 << "set: failed: error \"\"";
    QTest::newRow("result false") << QByteArray(R"({"ack":"lbx.set","result":false})") << 1
                                  << "set: failed: result false";
    QTest::newRow("ok") << QByteArray(R"({"ack":"lbx.set","result":"ok"})") << 0 << "set: answered";
    QTest::newRow("bare acknowledgement")
        << QByteArray(R"({"ack":"lbx.set"})") << 0 << "set: answered";
}

void LbxctlTest::replyThatSaysItFailed()
{
    QFETCH(QByteArray, reply);
    FakeConverters converters(1);
    converters.answer = [&](int, const QByteArray &request) {
        return call(request) == QLatin1String("lbx.set") ? reply : QByteArray();
    };
    const Run run = lbxctl(quick({"set", "127.0.0.2", "--baud", "9600"}));
    QTEST(run.status, "status");
    QCOMPARE(run.lines().size(), 1);
    QFETCH(QString, outcome);
    QVERIFY2(run.out.contains(outcome), qPrintable(run.out));

    const Run json = lbxctl(quick({"set", "127.0.0.2", "--baud", "9600", "--json"}));
    const QJsonObject line = objects(json).value(0);
    QCOMPARE(line.value(QStringLiteral("answered")).toBool(), true);
    QCOMPARE(line.value(QStringLiteral("ok")).toBool(), run.status == 0);
    QCOMPARE(
        line.value(QStringLiteral("reply")).toObject(), QJsonDocument::fromJson(reply).object());
}

void LbxctlTest::stateChangingCommandNeverSentBlindly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("acknowledgeFrom"); // which try is acknowledged; 0: none
    QTest::addColumn<int>("infoBaud"); // what lbx.info reports; 0: silent to it
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("commandsSent");
    QTest::addColumn<int>("infoAsked");
    QTest::addColumn<QString>("outcome");
    const QStringList set{"set", "127.0.0.2", "--baud", "115200"};
    QTest::newRow("acknowledged") << set << 1 << 9600 << 0 << 1 << 0 << "set: answered";
    QTest::newRow("answer lost, setting taken")
        << set << 0 << 115200 << 0 << 1 << 1
        << "set: no answer, but it reports 115200 OvUdp485 as asked";
    QTest::newRow("request lost, converter up")
        << set << 2 << 9600 << 0 << 2 << 1 << "set: answered";
    QTest::newRow("silent, maybe restarting")
        << set << 0 << 0 << 1 << 1 << 1 << "set: no answer after 1 try, nor to lbx.info";
    QTest::newRow("factory, silent") << QStringList{"factory", "127.0.0.2", "--yes"} << 0 << 0 << 1
                                     << 1 << 1 << "factory: no answer after 1 try, nor to lbx.info";
    QTest::newRow("update, never answered though up") << QStringList{"update",
        "127.0.0.2"} << 0 << 9600 << 1 << 3 << 2 << "update: no answer after 3 tries";
}

void LbxctlTest::stateChangingCommandNeverSentBlindly()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, acknowledgeFrom);
    QFETCH(int, infoBaud);
    FakeConverters converters(1);
    int commands = 0;
    int infos = 0;
    converters.answer = [&](int, const QByteArray &request) {
        const QString name = call(request);
        if (name == QLatin1String("lbx.info")) {
            ++infos;
            return infoBaud ? info(infoBaud) : QByteArray();
        }
        ++commands;
        if (acknowledgeFrom == 0 || commands < acknowledgeFrom)
            return QByteArray();
        return QByteArray(R"({"ack":")") + name.toLatin1() + R"(","result":"ok"})";
    };
    const Run run = lbxctl(arguments + QStringList{"--timeout", "0.3", "--retries", "2"});
    QTEST(run.status, "status");
    QTEST(commands, "commandsSent");
    QTEST(infos, "infoAsked");
    QFETCH(QString, outcome);
    QVERIFY2(run.out.contains(outcome), qPrintable(run.out));
}

void LbxctlTest::silentTargetOfUploadLogIsAskedAgain()
{
    SimulatorProcess silent(
        {QStringLiteral("--silent-chance"), QStringLiteral("1"), QStringLiteral("-v")});
    QVERIFY(silent.started());
    const Run run = lbxctl({"upload-log", "127.0.0.3", "--timeout", "0.2", "--retries", "2"});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.lines(),
        QStringList({"-             127.0.0.3        upload-log: no answer after 3 tries"}));
    QTRY_COMPARE(silent.output().count(QStringLiteral("in  unicast")), 3);
    QVERIFY(!silent.output().contains(QStringLiteral("lbx.info")));
}

void LbxctlTest::largeSiteWithAStockBuffer()
{
    // The stock receive buffer holds a few hundred replies; the requests are
    // paced so that none is lost, and each converter is set once.
    const int count = 300;
    SimulatorProcess simulator({"--count", QString::number(count), "--restart", "60000"});
    QVERIFY(simulator.started());
    const Run run = lbxctl(
        {"set", "--all", "--baud", "19200", "--receive-buffer", "208", "--timeout", "2", "--json"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.lines().size(), count);
    for (const QJsonObject &line : objects(run))
        QCOMPARE(line.value(QStringLiteral("tries")).toInt(), 1);
    QTRY_COMPARE(simulator.output().count(QStringLiteral("; restarts")), count);
}

void LbxctlTest::forgedTableRows_data()
{
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("shown");
    QTest::newRow("line break") << "X\nFAKE 6.6.6.6"
                                << R"("X\nFAKE 6.6.6.6")";
    QTest::newRow("blank") << "A B"
                           << R"("A B")";
    QTest::newRow("escape sequence") << "\x1b[2J\x1b[31mRED"
                                     << R"("\x1b[2J\x1b[31mRED")";
    QTest::newRow("carriage return") << "OK\rEVIL"
                                     << R"("OK\x0dEVIL")";
    QTest::newRow("bidirectional override")
        << QString::fromUtf8("AB\u202eCD") << R"("AB\u{202e}CD")";
    QTest::newRow("quote") << "say \"hi\""
                           << R"("say \"hi\"")";
}

void LbxctlTest::forgedTableRows()
{
    QFETCH(QString, uuid);
    FakeConverters converters(1);
    converters.answer = [&](int, const QByteArray &request) {
        return call(request) == QLatin1String("lbx.info") ? info(9600, uuid) : QByteArray();
    };
    const Run table = lbxctl(quick({"discover"}));
    QCOMPARE(table.status, 0);
    QCOMPARE(table.lines().size(), 2);
    QFETCH(QString, shown);
    QVERIFY2(table.lines().at(1).startsWith(shown + QStringLiteral("  127.0.0.2 ")),
        qPrintable(table.out));
    for (const QChar c : table.out)
        QVERIFY(c == QLatin1Char('\n')
            || (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format));

    const Run json = lbxctl(quick({"discover", "--json"}));
    QCOMPARE(objects(json).value(0).value(QStringLiteral("uuid")).toString(), uuid);
}

void LbxctlTest::linesAppearAsOutcomesAreKnown()
{
    SimulatorProcess simulator({});
    QVERIFY(simulator.started());
    // 127.0.0.9 is silent: its outcome comes 3 s later.
    Lbxctl run({"upload-log", "127.0.0.2", "127.0.0.9", "--timeout", "3", "--retries", "0"});
    QTRY_VERIFY(
        run.outputSoFar().contains(QStringLiteral("127.0.0.2        upload-log: answered")));
    QVERIFY(run.running());
    const Run done = run.finish();
    QCOMPARE(done.status, 1);
    QCOMPARE(done.lines().constLast(),
        QStringLiteral("-             127.0.0.9        upload-log: no answer after 1 try"));
}

void LbxctlTest::interruptSaysWhatWasSent()
{
    SimulatorProcess simulator({"--silent-chance", "1", "-v"});
    QVERIFY(simulator.started());
    Lbxctl run({"factory", "127.0.0.2", "--yes", "--timeout", "30"});
    QVERIFY(simulator.waitForOutput(QStringLiteral("lbx.factory")));
    run.interrupt();
    const Run done = run.finish();
    QCOMPARE(done.status, 130);
    QCOMPARE(done.lines(),
        QStringList({"-             127.0.0.2        factory: sent, no answer yet (interrupted)"}));
}

void LbxctlTest::outputThatCannotBeWritten()
{
    SimulatorProcess simulator({});
    QVERIFY(simulator.started());
    const Run run = Lbxctl(quick({"discover"}), QStringLiteral("/dev/full")).finish();
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(QStringLiteral("cannot write the output: No space left on device")),
        qPrintable(run.err));
}

void LbxctlTest::waitConfirmsWhatConvertersReport_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("outcome");
    // Converters restart for 3 s: the first poll finds them silent, the next back.
    const QStringList restarting{"--restart", "3000"};
    QTest::newRow("set, confirmed")
        << restarting << QStringList{"set", "127.0.0.3", "--baud", "115200", "--plugin", "OvTcp485"}
        << 0 << "127.0.0.3        set: confirmed 115200 OvTcp485 after ";
    QTest::newRow("set, acknowledged but not applied")
        << (restarting + QStringList{"--keeps-settings", "2"})
        << QStringList{"set", "127.0.0.3", "--baud", "115200"} << 1
        << "127.0.0.3        set: came back with 9600 OvUdp485: not applied";
    QTest::newRow("set, never back")
        << QStringList{"--silent-chance", "1"}
        << QStringList{"set", "127.0.0.3", "--baud", "115200", "--wait-timeout", "2"} << 1
        << "127.0.0.3        set: did not come back within 2 s";
    QTest::newRow("update raising the version")
        << (restarting + QStringList{"--update-to", "1.6"}) << QStringList{"update", "127.0.0.3"}
        << 0 << "LBXSIM000002  127.0.0.3        update: app 1.5 -> 1.6 after ";
    QTest::newRow("update that found none")
        << restarting << QStringList{"update", "127.0.0.3", "--wait-timeout", "3"} << 1
        << ", still 1.5";
    QTest::newRow("factory reset, back elsewhere")
        << (restarting + QStringList{"--factory-address", "127.0.0.50"})
        << QStringList{"factory", "127.0.0.3", "--yes"} << 0 << "at 127.0.0.50 with 9600 OvUdp485";
}

void LbxctlTest::waitConfirmsWhatConvertersReport()
{
    QFETCH(QStringList, simulator);
    QFETCH(QStringList, arguments);
    SimulatorProcess converters(simulator);
    QVERIFY(converters.started());
    const Run run = lbxctl(arguments + QStringList{"--wait", "--timeout", "0.3"});
    QTEST(run.status, "status");
    QCOMPARE(run.lines().size(), 1);
    QFETCH(QString, outcome);
    QVERIFY2(run.out.contains(outcome), qPrintable(run.out));
    // Only one command went out, whatever the wait saw.
    QVERIFY(converters.output().count(QStringLiteral("restarts")) <= 1);
}

void LbxctlTest::waitInJson()
{
    SimulatorProcess simulator({"--restart", "3000", "--update-to", "1.6"});
    QVERIFY(simulator.started());
    const Run run = lbxctl({"update", "LBXSIM000001", "--wait", "--json", "--timeout", "0.3"});
    QCOMPARE(run.status, 0);
    const QJsonObject line = objects(run).value(0);
    QCOMPARE(line.value(QStringLiteral("outcome")).toString(), QStringLiteral("confirmed"));
    QCOMPARE(line.value(QStringLiteral("before")).toObject().value(QStringLiteral("appVersion")),
        QJsonValue(1.5));
    QCOMPARE(line.value(QStringLiteral("after")).toObject().value(QStringLiteral("appVersion")),
        QJsonValue(1.6));
    const double seconds = line.value(QStringLiteral("seconds")).toDouble();
    QVERIFY2(seconds >= 3 && seconds < 8, qPrintable(QString::number(seconds)));
}

namespace {

// Converter 1 as planned, 2 to change, 3 not in the plan, and one that is not there.
const QByteArray mixedPlan = "\xef\xbb\xbfuuid,baud,plugin,room\r\n"
                             "LBXSIM000001,9600,OvUdp485,hall\r\n"
                             "LBXSIM000002,115200,OvTcp485,\"kitchen, east\"\r\n"
                             "LBXSIM000009,9600,,store\r\n";

} // namespace

void LbxctlTest::applyDryRunSendsNothing()
{
    SimulatorProcess simulator({"-v"});
    QVERIFY(simulator.started());
    const PlanFile plan(mixedPlan);
    const Run run = lbxctl(quick({"apply", plan.path(), "--dry-run"}));
    QCOMPARE(run.status, 0);
    QCOMPARE(run.lines(),
        QStringList({"LBXSIM000001  127.0.0.2        apply: unchanged",
            "LBXSIM000002  127.0.0.3        apply: set 9600 OvUdp485 -> 115200 OvTcp485",
            "LBXSIM000009  -                apply: missing: in the plan, did not answer",
            "LBXSIM000003  127.0.0.4        apply: not in plan"}));
    QVERIFY(run.err.contains(QStringLiteral("nothing was sent")));
    QCOMPARE(simulator.output().count(QStringLiteral(" in  unicast")), 0);
}

void LbxctlTest::applyConvergesAMixedSiteOnce()
{
    SimulatorProcess simulator({"--restart", "3000"});
    QVERIFY(simulator.started());
    const PlanFile plan(mixedPlan);
    const Run first = lbxctl(quick({"apply", plan.path()}));
    QCOMPARE(first.status, 1); // one converter is missing
    QVERIFY2(first.out.contains(QStringLiteral(
                 "LBXSIM000002  127.0.0.3        apply: confirmed 115200 OvTcp485 after")),
        qPrintable(first.out));
    QCOMPARE(simulator.output().count(QStringLiteral("; restarts")), 1);

    const PlanFile converged("uuid,baud,plugin\nLBXSIM000001,9600,OvUdp485\n"
                             "LBXSIM000002,115200,OvTcp485\nLBXSIM000003,9600,\n");
    const Run second = lbxctl(quick({"apply", converged.path()}));
    QCOMPARE(second.status, 0);
    QCOMPARE(second.out.count(QStringLiteral("apply: unchanged")), 3);
    QVERIFY2(second.err.contains(QStringLiteral("nothing to change")), qPrintable(second.err));
    QCOMPARE(simulator.output().count(QStringLiteral("; restarts")), 1);
}

void LbxctlTest::applyManyRestartingAtOnce()
{
    const int count = 100;
    SimulatorProcess simulator({"--count", QString::number(count), "--restart", "3000"});
    QVERIFY(simulator.started());
    QByteArray text = "uuid,baud,plugin\n";
    for (int n = 1; n <= count; ++n)
        text += QStringLiteral("LBXSIM%1,%2\n")
                    .arg(n, 6, 10, QLatin1Char('0'))
                    .arg(n % 2 ? QStringLiteral("9600,OvUdp485") : QStringLiteral("38400,Net485"))
                    .toUtf8();
    const PlanFile plan(text);
    const Run run = lbxctl(quick({"apply", plan.path(), "--json"}));
    QCOMPARE(run.status, 0);
    int confirmed = 0;
    for (const QJsonObject &line : objects(run))
        confirmed += line.value(QStringLiteral("outcome")) == QLatin1String("confirmed") ? 1 : 0;
    QCOMPARE(confirmed, count / 2);
    QCOMPARE(simulator.output().count(QStringLiteral("-> baud 38400, plug-in Net485; restarts")),
        count / 2);
}

void LbxctlTest::badPlansAreRefusedWithLineNumbers_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("message");
    const QByteArray header = "uuid,baud,plugin\nLBXSIM000001,9600,OvUdp485\n";
    QTest::newRow("unknown baud") << (header + "LBXSIM000002,57600,OvUdp485\n")
                                  << "line 3: unknown baud rate \"57600\"";
    QTest::newRow("unknown plug-in")
        << (header + "\nLBXSIM000002,9600,Json\n") << "line 4: unknown plug-in \"Json\"";
    QTest::newRow("uuid twice") << (header + "LBXSIM000001,4800,\n")
                                << "line 3: the uuid \"LBXSIM000001\" is also on line 2";
    QTest::newRow("quote not closed")
        << (header + "\"LBXSIM000002,9600,OvUdp485\n") << "line 3: a quote is not closed";
    QTest::newRow("header without plugin")
        << QByteArray("uuid,baud\nLBXSIM000001,9600\n") << "line 1: the header must name";
    QTest::newRow("JSON line that is no object")
        << QByteArray("{\"uuid\":\"A\",\"baud\":9600}\n[1,2]\n") << "line 2: not a JSON object";
    QTest::newRow("JSON line without uuid")
        << QByteArray("{\"uuid\":\"A\",\"baud\":9600}\n{\"baud\":9600}\n") << "line 2: no uuid";
}

void LbxctlTest::badPlansAreRefusedWithLineNumbers()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, message);
    SimulatorProcess simulator({"-v"});
    QVERIFY(simulator.started());
    const PlanFile file(plan);
    const Run run = lbxctl(quick({"apply", file.path()}));
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("nothing was sent")));
    // Not even a search: the plan is read first.
    QCOMPARE(lbxctl(quick({"update", "127.0.0.4"})).status, 0);
    QVERIFY(simulator.waitForOutput(QStringLiteral("LBXSIM000003: in  unicast")));
    QVERIFY(!simulator.output().contains(QStringLiteral(" in  broadcast")));
}

void LbxctlTest::siteVisitWithARoster()
{
    QTemporaryDir folder;
    const QString roster = folder.filePath(QStringLiteral("site.json"));
    {
        SimulatorProcess visit({"--count", "4"});
        QVERIFY(visit.started());
        QCOMPARE(lbxctl(quick({"discover", "--save", roster})).status, 0);
    }
    QFile saved(roster);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QJsonObject object = QJsonDocument::fromJson(saved.readAll()).object();
    QCOMPARE(object.value(QStringLiteral("converters")).toArray().size(), 4);
    QVERIFY(!object.value(QStringLiteral("computer")).toString().isEmpty());
    QVERIFY(!object.value(QStringLiteral("saved")).toString().isEmpty());
    QVERIFY2(QJsonDocument(object.value(QStringLiteral("adapters")).toArray())
                 .toJson()
                 .contains("\"10.77.0.1\""),
        "the sandbox's adapter is in the roster");

    // Next visit: the third converter was replaced, the fourth is off, the
    // second was set to 115200 baud.
    SimulatorProcess now({"--count", "3", "--uuid", "3=REPLACED", "--restart", "300"});
    QVERIFY(now.started());
    QCOMPARE(lbxctl(quick({"set", "127.0.0.3", "--baud", "115200", "--wait"})).status, 0);
    const Run check = lbxctl(quick({"check", roster}));
    QCOMPARE(check.status, 1);
    QStringList lines = check.lines();
    QCOMPARE(lines.takeLast(), QStringLiteral("3 of 4 expected converters answered; not all ok"));
    QCOMPARE(lines,
        QStringList({"LBXSIM000001  127.0.0.2        ok",
            "LBXSIM000002  127.0.0.3        changed: baud 9600 -> 115200",
            "LBXSIM000003  127.0.0.4        missing: in the roster, did not answer",
            "LBXSIM000004  127.0.0.5        missing: in the roster, did not answer",
            "REPLACED      127.0.0.4        new: answered, not in the roster"}));
    const Run json = lbxctl(quick({"check", roster, "--json"}));
    QCOMPARE(objects(json).value(1).value(QStringLiteral("changes")).toObject(),
        QJsonObject({{"baud", QJsonObject{{"from", "9600"}, {"to", "115200"}}}}));
}

void LbxctlTest::duplicatesAndExpectedCount()
{
    SimulatorProcess simulator({"--count", "3", "--uuid", "3=LBXSIM000002"});
    QVERIFY(simulator.started());
    const Run three = lbxctl(quick({"check", "--expect", "3"}));
    QCOMPARE(three.status, 1);
    QVERIFY2(three.out.contains(QStringLiteral(
                 "LBXSIM000002  127.0.0.3        duplicate: uuid also at 127.0.0.4")),
        qPrintable(three.out));
    const Run four = lbxctl(quick({"check", "--expect", "4", "--json"}));
    QCOMPARE(four.status, 1);
    QCOMPARE(
        objects(four).constLast(), QJsonObject({{"expected", 4}, {"found", 3}, {"ok", false}}));

    SimulatorProcess another({"--base", "127.0.0.20", "--count", "2"});
    QVERIFY(another.started());
    const Run fine
        = lbxctl(quick({"check", "--expect", "2", "--host", "127.0.0.20", "--host", "127.0.0.21"}));
    QCOMPARE(fine.status, 0);
    QVERIFY(fine.out.endsWith(QStringLiteral("all ok\n")));
}

void LbxctlTest::metricsPassThePrometheusParser()
{
    // Converter data becomes label values: quotes, backslashes and line breaks too.
    FakeConverters converters(2);
    converters.answer = [&](int n, const QByteArray &request) {
        return call(request) == QLatin1String("lbx.info")
            ? info(9600, n ? QStringLiteral("A\"B\\C\nD") : QStringLiteral("PLAIN"))
            : QByteArray();
    };
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("lbx.prom"));
    const Run run
        = lbxctl(quick({"check", "--expect", "3", "--format", "openmetrics", "--output", file}));
    QCOMPARE(run.status, 1);
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray text = written.readAll();
    QVERIFY2(text.contains(R"(lbx_converter_up{uuid="A\"B\\C\nD",ip="127.0.0.3"} 1)"), text);
    QVERIFY(text.contains("lbx_converters_expected 3\n"));
    QVERIFY(text.contains("lbx_converters_found 2\n"));
    QVERIFY(text.contains("lbx_check_duration_seconds "));

    QProcess promtool;
    promtool.start(QStringLiteral("promtool"), {"check", "metrics"});
    if (!promtool.waitForStarted())
        QSKIP("promtool (Debian package prometheus) is not installed: scripts/install-deps test");
    promtool.write(text);
    promtool.closeWriteChannel();
    QVERIFY(promtool.waitForFinished());
    QVERIFY2(promtool.exitCode() == 0,
        promtool.readAllStandardOutput() + promtool.readAllStandardError());
}

void LbxctlTest::csvForASpreadsheet()
{
    FakeConverters converters(2);
    converters.answer = [&](int n, const QByteArray &request) {
        return call(request) == QLatin1String("lbx.info")
            ? info(9600, n ? QStringLiteral("=HYPERLINK(\"x\")") : QStringLiteral("A,B"))
            : QByteArray();
    };
    const Run run = lbxctl(quick({"discover", "--format", "csv"}));
    QCOMPARE(run.status, 0);
    QStringList lines = run.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.takeFirst(),
        QString::fromUtf8("\xef\xbb\xbfuuid,ip,appVersion,romVersion,baud,pluginName,caption"));
    lines.sort();
    QCOMPARE(lines,
        QStringList({QString::fromUtf8("\"'=HYPERLINK(\"\"x\"\")\",127.0.0.3,1.5,1.0,9600,"
                                       "OvUdp485,网络字节协议"),
            QString::fromUtf8("\"A,B\",127.0.0.2,1.5,1.0,9600,OvUdp485,网络字节协议")}));
}

void LbxctlTest::badInputSendsNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("searches");
    QTest::newRow("unknown baud rate") << QStringList{"set", "127.0.0.2", "--baud", "57600"}
                                       << "unknown baud rate \"57600\"" << false;
    QTest::newRow("no baud") << QStringList{"set", "127.0.0.2"} << "set needs --baud" << false;
    QTest::newRow("unknown plug-in")
        << QStringList{"set", "127.0.0.2", "--baud", "9600", "--plugin", "JSON"}
        << "unknown plug-in \"JSON\"" << false;
    QTest::newRow("octet over 255") << QStringList{"update", "127.0.0.300"}
                                    << "\"127.0.0.300\" is not an IPv4 address" << false;
    QTest::newRow("leading zero, octal elsewhere")
        << QStringList{"factory", "127.0.0.010", "--yes"} << "without leading zeros" << false;
    QTest::newRow("leading zero in --host")
        << QStringList{"discover", "--host", "127.0.0.011"} << "without leading zeros" << false;
    QTest::newRow("limited broadcast") << QStringList{"factory", "255.255.255.255", "--yes"}
                                       << "is not one converter's address" << false;
    QTest::newRow("directed broadcast") << QStringList{"set", "10.77.0.255", "--baud", "9600"}
                                        << "is not one converter's address" << false;
    QTest::newRow("network address")
        << QStringList{"update", "10.77.0.0"} << "is not one converter's address" << false;
    QTest::newRow("multicast") << QStringList{"update", "224.0.0.1"}
                               << "is not one converter's address" << false;
    QTest::newRow("broadcast --host") << QStringList{"discover", "--host", "255.255.255.255"}
                                      << "is not one converter's address" << false;
    QTest::newRow("ip: that is not one")
        << QStringList{"update", "ip:LBXSIM000001"} << "is not an IPv4 address" << false;
    QTest::newRow("no target") << QStringList{"update"} << "update needs a target" << false;
    QTest::newRow("discover with a target")
        << QStringList{"discover", "127.0.0.3"} << "discover takes no targets" << false;
    QTest::newRow("unknown command")
        << QStringList{"reboot"} << "unknown command \"reboot\"" << false;
    QTest::newRow("unknown option")
        << QStringList{"update", "127.0.0.2", "--force"} << "Unknown option 'force'" << false;
    QTest::newRow("bad retries") << QStringList{"discover", "--retries", "many"}
                                 << "--retries takes a whole number" << false;
    QTest::newRow("timeout nan") << QStringList{"update", "127.0.0.2", "--timeout", "nan"}
                                 << "--timeout takes seconds from 0.01 to 3600" << false;
    QTest::newRow("timeout below 10 ms")
        << QStringList{"update", "127.0.0.2", "--timeout", "0.0004"}
        << "--timeout takes seconds from 0.01 to 3600" << false;
    QTest::newRow("unknown uuid") << QStringList{"update", "LBXSIM000001", "NOSUCH"}
                                  << "no converter with the uuid \"NOSUCH\"" << true;
}

void LbxctlTest::badInputSendsNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QFETCH(bool, searches);
    SimulatorProcess simulator({QStringLiteral("-v")});
    QVERIFY(simulator.started());
    // The last --timeout counts: the bad one, where a row gives one.
    const Run run = lbxctl(arguments.contains("--timeout") ? arguments : quick(arguments));
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(lbxctl(quick({"update", "127.0.0.4"})).status, 0);
    QVERIFY(simulator.waitForOutput(QStringLiteral("LBXSIM000003: in  unicast")));
    // Nothing but the probe, and for a uuid the search that looked for it.
    QCOMPARE(simulator.output().count(QStringLiteral(" in  unicast")), 1);
    QCOMPARE(simulator.output().contains(QStringLiteral(" in  broadcast")), searches);
    QVERIFY(!simulator.output().contains(QStringLiteral("no converter at")));
}

void LbxctlTest::helpAndVersion()
{
    const Run overview = lbxctl({QStringLiteral("--help")});
    QCOMPARE(overview.status, 0);
    for (const char *command : {"discover", "set", "upload-log", "update", "factory"})
        QVERIFY2(overview.out.contains(QLatin1String(command)), command);
    QVERIFY(overview.out.contains(QStringLiteral("without leading")));
    const Run set = lbxctl({QStringLiteral("set"), QStringLiteral("--help")});
    QCOMPARE(set.status, 0);
    QVERIFY2(set.out.startsWith(QStringLiteral("Usage: lbxctl set [options] [TARGET...]")),
        qPrintable(set.out));
    QVERIFY(!set.out.contains(QStringLiteral(LBXCTL_PATH)));
    for (const char *option : {"--baud", "--plugin", "--all", "--timeout", "--retries", "--host",
             "--interface", "--json"})
        QVERIFY2(set.out.contains(QLatin1String(option)), option);
    const Run factory = lbxctl({QStringLiteral("factory"), QStringLiteral("--help")});
    QVERIFY(factory.out.contains(QStringLiteral("--yes")));
    QVERIFY(!factory.out.contains(QStringLiteral("--baud")));
    const Run version = lbxctl({QStringLiteral("--version")});
    QCOMPARE(version.status, 0);
    QCOMPARE(version.out, QStringLiteral("lbxctl 0.1.0\n"));
}

QTEST_GUILESS_MAIN(LbxctlTest)
#include "tst_lbxctl.moc"
