// The simulator behaves as the tools expect a converter to: the test plays the
// tool on a real socket and lbxsim runs beside it.

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

// The requests, as a tool writes them.
const QString info = QStringLiteral(R"( {"call":"lbx.info"})");
const QString broadcast = QStringLiteral("255.255.255.255");

// An answer as "address ack what": for lbx.info the baud rate and the plug-in
// as JSON ("-" where it reports none), for the others every other member.
QString described(const QHostAddress &from, const QJsonObject &reply)
{
    QJsonObject rest = reply;
    const QString ack = rest.take(QStringLiteral("ack")).toString();
    const QJsonObject arg = reply.value(QStringLiteral("arg")).toObject();
    const QJsonValue plugin = arg.value(QStringLiteral("pluginName"));
    const QString what = ack != QLatin1String("lbx.info")
        ? QString::fromUtf8(QJsonDocument(rest).toJson(QJsonDocument::Compact))
        : arg.value(QStringLiteral("baud")).toVariant().toString() + QLatin1Char(' ')
            + (plugin.isUndefined() ? QStringLiteral("-")
                                    : QString::fromUtf8(QJsonDocument(QJsonArray{plugin})
                                                            .toJson(QJsonDocument::Compact)
                                                            .mid(1)
                                                            .chopped(1)));
    return QStringLiteral("%1 %2 %3").arg(from.toString(), ack, what);
}

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

class SimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { answers.clear(); }
    void answersAsAConverterWould_data();
    void answersAsAConverterWould();
    void journalTellsWhatEachConverterDid();
    void journalThatCannotBeWrittenStopsIt();

private:
    // Sends "ADDRESS JSON" and waits for the answers expected, and a while for
    // any that should not come; each answer described, sorted.
    QStringList exchange(const QString &request, int expected, int lateMs);
    void send(const QString &request)
    {
        tool.writeDatagram(
            request.section(' ', 1).toUtf8(), QHostAddress(request.section(' ', 0, 0)), 12166);
    }

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

QStringList SimulatorTest::exchange(const QString &request, int expected, int lateMs)
{
    answers.clear();
    send(request);
    // Callers compare what came, so a shortfall or an extra shows there.
    [[maybe_unused]] const bool enough = QTest::qWaitFor(
        [&] {
            return answers.size() >= expected;
        },
        5000 + lateMs);
    [[maybe_unused]] const bool more = QTest::qWaitFor(
        [&] {
            return answers.size() > expected;
        },
        300);
    QStringList got;
    for (const auto &[from, reply] : qAsConst(answers))
        got.append(described(from, reply));
    got.sort();
    return got;
}

void SimulatorTest::answersAsAConverterWould_data()
{
    QTest::addColumn<QString>("options"); // blank-separated
    QTest::addColumn<QStringList>("requests"); // "ADDRESS JSON", one after the other
    QTest::addColumn<QStringList>("answered"); // "N: ", the request's number, and described()
    const QString set = QStringLiteral(R"( {"arg":{"baud":115200,"pluginName":"OvTcp485"},)"
                                       R"("call":"lbx.set"})");
    const QString settings = QStringLiteral(" lbx.info 9600 \"OvUdp485\"");
    QTest::newRow("a broadcast reaches every converter, a unicast one")
        << QString("--count 3")
        << QStringList{broadcast + info, QStringLiteral(R"(127.0.0.3 {"call":"lbx.update"})")}
        << QStringList{"1: 127.0.0.2" + settings, "1: 127.0.0.3" + settings,
               "1: 127.0.0.4" + settings, "2: 127.0.0.3 lbx.update {}"};
    QTest::newRow("a unicast where no converter lives reaches none")
        << QString("--count 3")
        << QStringList{"127.0.0.9" + set, "127.0.0.2" + info, "127.0.0.4" + info}
        << QStringList{"2: 127.0.0.2" + settings, "3: 127.0.0.4" + settings};
    QTest::newRow("settings taken by the one asked, and a factory reset")
        << QString()
        << QStringList{"127.0.0.3" + set, "127.0.0.3" + info, "127.0.0.2" + info,
               QStringLiteral(R"(127.0.0.3 {"call":"lbx.factory"})"), "127.0.0.3" + info}
        << QStringList{"1: 127.0.0.3 lbx.set {\"result\":\"ok\"}",
               "2: 127.0.0.3 lbx.info 115200 \"OvTcp485\"", "3: 127.0.0.2" + settings,
               "4: 127.0.0.3 lbx.factory {}", "5: 127.0.0.3" + settings};
    // Rejected, a converter does not restart: it answers at once, unchanged.
    const QString rejecting = QStringLiteral("--restart 600000");
    const QString rejected
        = QStringLiteral(R"(1: 127.0.0.3 lbx.set {"error":"%1","result":"rejected"})");
    QTest::newRow("baud 57600 rejected")
        << rejecting
        << QStringList{R"(127.0.0.3 {"arg":{"baud":57600,"pluginName":"OvTcp485"},"call":"lbx.set"})",
               "127.0.0.3" + info}
        << QStringList{rejected.arg("unsupported baud rate 57600"), "2: 127.0.0.3" + settings};
    QTest::newRow("baud as text rejected")
        << rejecting
        << QStringList{R"(127.0.0.3 {"arg":{"baud":"115200"},"call":"lbx.set"})",
               "127.0.0.3" + info}
        << QStringList{
               rejected.arg(R"(unsupported baud rate \"115200\")"), "2: 127.0.0.3" + settings};
    QTest::newRow("the empty plug-in name rejected")
        << rejecting
        << QStringList{R"(127.0.0.3 {"arg":{"baud":4800,"pluginName":""},"call":"lbx.set"})",
               "127.0.0.3" + info}
        << QStringList{rejected.arg(R"(unknown plug-in \"\")"), "2: 127.0.0.3" + settings};
    QTest::newRow("its own plug-in, taken back")
        << QString("--count 1 --plugin 1=Modbus485")
        << QStringList{R"(127.0.0.2 {"arg":{"baud":4800,"pluginName":"Modbus485"},"call":"lbx.set"})",
               "127.0.0.2" + info}
        << QStringList{"1: 127.0.0.2 lbx.set {\"result\":\"ok\"}",
               "2: 127.0.0.2 lbx.info 4800 \"Modbus485\""};
    QTest::newRow("the empty plug-in, its own")
        << QString("--count 1 --plugin 1=") << QStringList{"127.0.0.2" + info}
        << QStringList{"1: 127.0.0.2 lbx.info 9600 \"\""};
    QTest::newRow("no plug-in at all")
        << QString("--count 1 --no-plugin 1") << QStringList{"127.0.0.2" + info}
        << QStringList{"1: 127.0.0.2 lbx.info 9600 -"};
    QTest::newRow("answers from another address")
        << QString("--count 1 --answers-from 1=127.0.0.99") << QStringList{"127.0.0.2" + info}
        << QStringList{"1: 127.0.0.99" + settings};
    QTest::newRow("deaf to unicast")
        << QString("--count 2 --broadcast-only 1")
        << QStringList{"127.0.0.2" + info, broadcast + info}
        << QStringList{"2: 127.0.0.2" + settings, "2: 127.0.0.3" + settings};
    QTest::newRow("deaf to the broadcast")
        << QString("--count 2 --unicast-only 1")
        << QStringList{broadcast + info, "127.0.0.2" + info}
        << QStringList{"1: 127.0.0.3" + settings, "2: 127.0.0.2" + settings};
    QTest::newRow("a late answer")
        << QString("--count 1 --late-chance 1 --late 400") << QStringList{"127.0.0.2" + info}
        << QStringList{"1: 127.0.0.2" + settings};
    QTest::newRow("a duplicated answer")
        << QString("--count 1 --duplicate-chance 1") << QStringList{"127.0.0.2" + info}
        << QStringList{"1: 127.0.0.2" + settings, "1: 127.0.0.2" + settings};
}

void SimulatorTest::answersAsAConverterWould()
{
    QFETCH(QString, options);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, answered);
    SimulatorProcess simulator(options.split(' ', Qt::SkipEmptyParts));
    QVERIFY(simulator.started());
    const int late = options.section(QStringLiteral("--late "), 1).section(' ', 0, 0).toInt();
    QStringList got;
    QElapsedTimer clock;
    clock.start();
    for (int n = 1; n <= requests.size(); ++n) {
        const QString number = QStringLiteral("%1: ").arg(n);
        const int expected
            = int(std::count_if(answered.cbegin(), answered.cend(), [&](const QString &answer) {
                  return answer.startsWith(number);
              }));
        for (const QString &answer : exchange(requests.at(n - 1), expected, late))
            got.append(number + answer);
    }
    QCOMPARE(got, answered);
    QVERIFY(clock.elapsed() >= late);
}

// What each converter did with each datagram, in its journal: a setting taken
// though its answer was lost, a setting rejected, silence while restarting.
void SimulatorTest::journalTellsWhatEachConverterDid()
{
    QTemporaryDir folder;
    const QString journal = folder.filePath(QStringLiteral("journal"));
    SimulatorProcess simulator(
        {"--silent-chance", "1", "--restart", "600000", "--journal", journal});
    QVERIFY(simulator.started());
    send(R"(127.0.0.3 {"arg":{"baud":4800},"call":"lbx.set"})");
    QTRY_COMPARE(journalLines(journal).size(), 1);
    send(R"(127.0.0.2 {"arg":{"baud":57600},"call":"lbx.set"})");
    QTRY_COMPARE(journalLines(journal).size(), 2);
    send(broadcast + info);
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
    send("127.0.0.2" + info);
    QVERIFY(simulator.waitForFinished(10000));
    QCOMPARE(simulator.exitCode(), 1);
    QVERIFY((said + simulator.readAll()).contains("lbxsim: cannot write the journal /dev/full: "));
}

QTEST_GUILESS_MAIN(SimulatorTest)
#include "tst_lbxsim.moc"
