// lbxctl as a technician scripts it, against simulated converters in the sandbox.

#include "support.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

Run lbxctl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(LBXCTL_PATH), arguments);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Quick answers on a quiet sandbox: a short wait is enough.
QStringList quick(QStringList arguments)
{
    return arguments << QStringLiteral("--timeout") << QStringLiteral("0.5");
}

QMap<QString, QJsonObject> byUuid(const Run &run)
{
    QMap<QString, QJsonObject> found;
    for (const QString &line : run.lines()) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        found.insert(object.value(QStringLiteral("uuid")).toString(), object);
    }
    return found;
}

} // namespace

class LbxctlTest : public QObject
{
    Q_OBJECT

private slots:
    void discoverThreeConverters_data();
    void discoverThreeConverters();
    void discoverAsJson();
    void silentConverterIsSimplyAbsent();
    void nobodyAnswers();
    void setTwoOfThreeInOneCall();
    void commandsByUuidAndAll_data();
    void commandsByUuidAndAll();
    void silentTargetFails();
    void factoryWithoutYesSendsNothing();
    void badInputSendsNothing_data();
    void badInputSendsNothing();
    void helpForProgramAndCommands();
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
    const QMap<QString, QJsonObject> found = byUuid(run);
    const QJsonObject second = found.value(QStringLiteral("LBXSIM000002"));
    QCOMPARE(second.value(QStringLiteral("ip")).toString(), QStringLiteral("127.0.0.3"));
    QCOMPARE(second.value(QStringLiteral("baud")).toInt(), 9600);
    QCOMPARE(second.value(QStringLiteral("appVersion")).toDouble(), 1.5);
    QCOMPARE(second.value(QStringLiteral("romVersion")).toString(), QStringLiteral("2.0.2"));
    QCOMPARE(second.value(QStringLiteral("pluginName")).toString(), QStringLiteral("OvUdp485"));
    QCOMPARE(second.value(QStringLiteral("caption")).toString(), QString::fromUtf8("网络字节协议"));
}

void LbxctlTest::silentConverterIsSimplyAbsent()
{
    SimulatorProcess answering({QStringLiteral("--count"), QStringLiteral("2")});
    SimulatorProcess silent(
        {QStringLiteral("--base"), QStringLiteral("127.0.0.10"), QStringLiteral("--uuid-prefix"),
            QStringLiteral("SILENT"), QStringLiteral("--silent-chance"), QStringLiteral("1")});
    QVERIFY(answering.started());
    QVERIFY(silent.started());
    const Run run = lbxctl(quick({QStringLiteral("discover"), QStringLiteral("--json")}));
    QCOMPARE(run.status, 0);
    QCOMPARE(byUuid(run).keys(), QStringList({"LBXSIM000001", "LBXSIM000002"}));
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
    QCOMPARE(set.lines(),
        QStringList({"LBXSIM000001  127.0.0.2        set: answered",
            "LBXSIM000003  127.0.0.4        set: answered"}));

    const QMap<QString, QJsonObject> found = byUuid(lbxctl(quick({"discover", "--json"})));
    QCOMPARE(
        found.value(QStringLiteral("LBXSIM000001")).value(QStringLiteral("baud")).toInt(), 115200);
    QCOMPARE(
        found.value(QStringLiteral("LBXSIM000001")).value(QStringLiteral("caption")).toString(),
        QString::fromUtf8("JSON协议"));
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

void LbxctlTest::silentTargetFails()
{
    SimulatorProcess silent(
        {QStringLiteral("--silent-chance"), QStringLiteral("1"), QStringLiteral("-v")});
    QVERIFY(silent.started());
    const Run run = lbxctl({"upload-log", "127.0.0.3", "--timeout", "0.2", "--retries", "2"});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.lines(),
        QStringList({"-             127.0.0.3        upload-log: no answer after 3 tries"}));
    QTRY_COMPARE(silent.output().count(QStringLiteral("in  unicast")), 3);
}

void LbxctlTest::factoryWithoutYesSendsNothing()
{
    SimulatorProcess simulator({QStringLiteral("-v")});
    QVERIFY(simulator.started());
    const Run run = lbxctl(quick({"factory", "--all"}));
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.contains(QStringLiteral("add --yes")));
    // A probe that the simulator does log, sent after lbxctl has ended.
    QCOMPARE(lbxctl(quick({"update", "127.0.0.2"})).status, 0);
    QVERIFY(simulator.waitForOutput(QStringLiteral("lbx.update")));
    QCOMPARE(simulator.output().count(QStringLiteral(" in ")), 1);
}

void LbxctlTest::badInputSendsNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("searches");
    QTest::newRow("unknown baud rate") << QStringList{"set", "127.0.0.2", "--baud", "57600"}
                                       << "unknown baud rate \"57600\"" << false;
    QTest::newRow("baud not a number") << QStringList{"set", "127.0.0.2", "--baud", "fast"}
                                       << "unknown baud rate \"fast\"" << false;
    QTest::newRow("no baud") << QStringList{"set", "127.0.0.2"} << "set needs --baud" << false;
    QTest::newRow("unknown plug-in")
        << QStringList{"set", "127.0.0.2", "--baud", "9600", "--plugin", "JSON"}
        << "unknown plug-in \"JSON\"" << false;
    QTest::newRow("malformed address") << QStringList{"update", "127.0.0.300"}
                                       << "\"127.0.0.300\" is not an IPv4 address" << false;
    QTest::newRow("IPv6 address") << QStringList{"update", "::1"}
                                  << "\"::1\" is not an IPv4 address" << false;
    QTest::newRow("malformed host")
        << QStringList{"discover", "--host", "10.0.0"} << "--host takes an IPv4 address" << false;
    QTest::newRow("no target") << QStringList{"update"} << "update needs a target" << false;
    QTest::newRow("unknown command")
        << QStringList{"reboot"} << "unknown command \"reboot\"" << false;
    QTest::newRow("bad retries") << QStringList{"discover", "--retries", "many"}
                                 << "--retries takes a whole number" << false;
    QTest::newRow("short address")
        << QStringList{"update", "10.0.0"} << "\"10.0.0\" is not an IPv4 address" << false;
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
    const Run run = lbxctl(quick(arguments));
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(lbxctl(quick({"update", "127.0.0.4"})).status, 0);
    QVERIFY(simulator.waitForOutput(QStringLiteral("LBXSIM000003: in  unicast")));
    // Nothing but the probe, and for a uuid the search that looked for it.
    QCOMPARE(simulator.output().count(QStringLiteral(" in  unicast")), 1);
    QCOMPARE(simulator.output().contains(QStringLiteral(" in  broadcast")), searches);
}

void LbxctlTest::helpForProgramAndCommands()
{
    const Run overview = lbxctl({QStringLiteral("--help")});
    QCOMPARE(overview.status, 0);
    for (const char *command : {"discover", "set", "upload-log", "update", "factory"})
        QVERIFY2(overview.out.contains(QLatin1String(command)), command);
    const Run set = lbxctl({QStringLiteral("set"), QStringLiteral("--help")});
    QCOMPARE(set.status, 0);
    for (const char *option : {"--baud", "--plugin", "--all", "--timeout", "--retries", "--host",
             "--interface", "--json"})
        QVERIFY2(set.out.contains(QLatin1String(option)), option);
    const Run factory = lbxctl({QStringLiteral("factory"), QStringLiteral("--help")});
    QVERIFY(factory.out.contains(QStringLiteral("--yes")));
    QVERIFY(!factory.out.contains(QStringLiteral("--baud")));
}

QTEST_GUILESS_MAIN(LbxctlTest)
#include "tst_lbxctl.moc"
