// lbxctl as a technician scripts it, and as a hostile host would answer it:
// against simulated converters and scripted ones in the sandbox.

#include "support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <memory>
#include <vector>

#include <csignal>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QByteArray bytes; // the output as written, in the locale's encoding
    QString err;
    QByteArray errBytes;
    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QList<QJsonObject> objects() const
    {
        QList<QJsonObject> found;
        for (const QString &line : lines())
            found.append(QJsonDocument::fromJson(line.toUtf8()).object());
        return found;
    }
    // Each JSON line's members, as text joined by blanks: what became of whom.
    QStringList fields(const QStringList &names) const
    {
        QStringList rows;
        for (const QJsonObject &object : objects()) {
            QStringList values;
            for (const QString &name : names)
                values.append(object.value(name).toVariant().toString()); // null: empty
            rows.append(values.join(QLatin1Char(' ')));
        }
        return rows;
    }
};

// lbxctl as its own process, while this one's event loop keeps the simulated
// and scripted converters answering.
class Lbxctl
{
public:
    explicit Lbxctl(const QStringList &arguments, const QString &outputFile = {},
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        if (!outputFile.isEmpty())
            process.setStandardOutputFile(outputFile);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(LBXCTL_PATH), arguments);
    }
    ~Lbxctl()
    {
        process.kill();
        process.waitForFinished();
    }
    QString outputSoFar()
    {
        bytes += process.readAllStandardOutput();
        return QString::fromUtf8(bytes);
    }
    bool running() const { return process.state() != QProcess::NotRunning; }
    void interrupt() { signal(SIGINT); }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
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
        run.bytes = bytes;
        run.errBytes = process.readAllStandardError();
        run.err = QString::fromUtf8(run.errBytes);
        return run;
    }

private:
    QProcess process;
    QByteArray bytes;
};

// Datagrams this namespace dropped into full receive buffers.
qint64 receiveBufferErrors()
{
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly))
        return -1;
    QList<QByteArray> names;
    for (const QByteArray &line : snmp.readAll().split('\n')) {
        if (!line.startsWith("Udp:"))
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (names.isEmpty())
            names = fields;
        else
            return fields.value(int(names.indexOf("RcvbufErrors"))).toLongLong();
    }
    return -1;
}

// Quick answers on a quiet sandbox: a short wait is enough.
Run lbxctl(QStringList arguments, const char *timeout = "0.2")
{
    if (!arguments.contains(QStringLiteral("--timeout")))
        arguments << QStringLiteral("--timeout") << QLatin1String(timeout);
    return Lbxctl(arguments).finish();
}

QString call(const QByteArray &request)
{
    return QJsonDocument::fromJson(request).object().value(QStringLiteral("call")).toString();
}

QByteArray info(int baud, const QString &uuid = QStringLiteral("SCRIPTED"))
{
    const QJsonObject arg{{"uuid", uuid}, {"romVersion", "1.0"}, {"appVersion", 1.5},
        {"baud", baud}, {"pluginName", "OvUdp485"}};
    return QJsonDocument(QJsonObject{{"ack", "lbx.info"}, {"arg", arg}})
        .toJson(QJsonDocument::Compact);
}

// Scripted converters that answer lbx.info with the given uuids and nothing else.
void answerInfo(FakeConverters &converters, const QStringList &uuids)
{
    converters.answer = [uuids](int n, const QByteArray &request) {
        return call(request) == QLatin1String("lbx.info") ? info(9600, uuids.at(n)) : QByteArray();
    };
}

// Writes a file into the folder, which goes with everything in it.
QString fileIn(const QTemporaryDir &folder, const QByteArray &text = {})
{
    const QString path = folder.filePath(QString::number(qHash(text)));
    QFile file(path);
    if (!text.isEmpty() && file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What each simulator's journal says its converters did, as "did=count" by
// simulator ("0:applied=1"), for the calls that change something; sorted.
QStringList changesIn(const QStringList &journals)
{
    QStringList counts;
    for (int n = 0; n < journals.size(); ++n) {
        QMap<QString, int> did;
        for (const QByteArray &line : contents(journals.at(n)).split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            const QString call = entry.value("call").toString();
            if (!call.isEmpty() && call != QLatin1String("lbx.info"))
                ++did[entry.value("did").toString()];
        }
        for (auto it = did.cbegin(); it != did.cend(); ++it)
            counts.append(QStringLiteral("%1:%2=%3").arg(n).arg(it.key()).arg(it.value()));
    }
    counts.sort();
    return counts;
}

// Each JSON line as "ip outcome uuid", the uuid followed by "/" and every uuid
// heard where the address answered as several, and "shared" where another
// address has it too; a converter back elsewhere adds "back at ADDRESS". Sorted.
QStringList storyOf(const Run &run)
{
    QStringList story;
    for (const QJsonObject &line : run.objects()) {
        QStringList uuids;
        for (const QJsonValue &uuid : line.value("uuids").toArray())
            uuids.append(uuid.toVariant().toString());
        QStringList words{line.value("ip").toString()};
        if (line.contains("outcome"))
            words.append(line.value("outcome").toString());
        words.append(line.value("uuid").toVariant().toString()
            + (uuids.isEmpty() ? QString() : QLatin1Char('/') + uuids.join(',')));
        if (line.value("sharedUuid").toBool())
            words.append(QStringLiteral("shared"));
        story.append(words.join(' '));
        const QString back = line.value("after").toObject().value("ip").toString();
        if (!back.isEmpty() && back != line.value("ip").toString())
            story.append(QStringLiteral("back at ") + back);
    }
    story.sort();
    return story;
}

} // namespace

class LbxctlTest : public QObject
{
    Q_OBJECT

private slots:
    void siteStories_data();
    void siteStories();
    void largeSiteWithASmallBuffer();
    void sweepKeepsItsPaceAndLosesNone();
    void forgedTableRows_data();
    void forgedTableRows();
    void hostileConverterForgesNoLine_data();
    void hostileConverterForgesNoLine();
    void linesAppearAsOutcomesAreKnownUntilInterrupted();
    void interruptedSearchSaysSo_data();
    void interruptedSearchSaysSo();
    void outputThatCannotBeWritten();
    void slowConverterIsJudgedByWhatItReports_data();
    void slowConverterIsJudgedByWhatItReports();
    void progressGivesWayToResultsOnATerminal_data();
    void progressGivesWayToResultsOnATerminal();
    void siteVisitWithARoster();
    void undoPutsBackWhatEachConverterReported();
    void metricsAndSpreadsheetsTakeHostileUuids();
    void speaksTheTechniciansLanguage_data();
    void speaksTheTechniciansLanguage();
    void badInputSendsNothing_data();
    void badInputSendsNothing();
    void helpShowsWhatACommandNeedsFirst();

private:
    QTemporaryDir folder;
};

// Sites of simulated converters, some as real LANs have them (uuids shared,
// empty or like an address, two uuids at one address, answers from another
// address, converters that come back elsewhere), a command, and what it
// claims of each converter held against what the converters' journals say
// they did. What the site checker draws at random is not repeated here.
void LbxctlTest::siteStories_data()
{
    QTest::addColumn<QStringList>("simulators"); // each one's options, blank-separated
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("story"); // storyOf()
    QTest::addColumn<QStringList>("changes"); // changesIn()
    QTest::addColumn<QString>("says"); // in the output
    const QString odd = "--count 6 --uuid 1=10.20.30.40 --uuid 2=SAME --uuid 3=SAME --uuid 4= "
                        "--uuid 5=";
    QTest::newRow("nobody answers: no success")
        << QStringList{} << QStringList{"discover"} << 1 << QStringList{} << QStringList{} << "";
    QTest::newRow("asked one by one, as behind a router")
        << QStringList{"--count 3"}
        << QStringList{"discover", "--host", "127.0.0.3", "--host", "127.0.0.4"} << 0
        << QStringList{"127.0.0.3 LBXSIM000002", "127.0.0.4 LBXSIM000003"} << QStringList{}
        << "网络字节协议";
    QTest::newRow("converters sharing a uuid, or none, stay apart")
        << QStringList{odd} << QStringList{"discover"} << 0
        << QStringList{"127.0.0.2 10.20.30.40", "127.0.0.3 SAME shared", "127.0.0.4 SAME shared",
               "127.0.0.5  shared", "127.0.0.6  shared", "127.0.0.7 LBXSIM000006"}
        << QStringList{} << "";
    QTest::newRow("a uuid two converters share is refused")
        << QStringList{odd} << QStringList{"update", "SAME"} << 2 << QStringList{} << QStringList{}
        << "";
    QTest::newRow("an address, and a uuid that looks like one")
        << QStringList{odd} << QStringList{"update", "ip:127.0.0.4", "uuid:10.20.30.40"} << 0
        << QStringList{"127.0.0.2 done 10.20.30.40", "127.0.0.4 done SAME"}
        << QStringList{"0:answered=2"} << "";
    QTest::newRow("--all after a sweep: an answer from outside it is no target")
        << QStringList{"--count 2 --answers-from 2=127.0.0.99", "--count 1 --base 127.0.0.99"}
        << QStringList{"factory", "--all", "--sweep", "127.0.0.0/29", "--yes"} << 1
        << QStringList{"127.0.0.2 done LBXSIM000001", "127.0.0.99 unasked LBXSIM000002"}
        << QStringList{"0:reset=1"} << "";
    QTest::newRow("a reset converter, back inside the range swept")
        << QStringList{"--count 2 --restart 500 --factory-address 127.0.0.9"}
        << QStringList{"factory", "--all", "--sweep", "127.0.0.0/28", "--yes", "--wait",
               "--wait-timeout", "15"}
        << 0
        << QStringList{"127.0.0.2 confirmed LBXSIM000001", "127.0.0.3 confirmed LBXSIM000002",
               "back at 127.0.0.10", "back at 127.0.0.9"}
        << QStringList{"0:reset=2"} << "";
    // Converters restart for 3 s: the first poll finds them silent, the next back.
    QTest::newRow("two that share a uuid are reset, and each is followed as itself")
        << QStringList{"--count 2 --uuid 1=SAME --uuid 2=SAME --restart 3000 "
                       "--factory-address 127.0.0.50"}
        << QStringList{"factory", "127.0.0.2", "127.0.0.3", "--yes", "--wait", "--timeout", "0.3"}
        << 0
        << QStringList{"127.0.0.2 confirmed SAME", "127.0.0.3 confirmed SAME", "back at 127.0.0.50",
               "back at 127.0.0.51"}
        << QStringList{"0:reset=2"} << "";
    QTest::newRow("set, acknowledged but not applied")
        << QStringList{"--count 3 --restart 3000 --keeps-settings 2"}
        << QStringList{"set", "127.0.0.3", "--baud", "115200", "--wait", "--timeout", "0.3"} << 1
        << QStringList{"127.0.0.3 not-applied LBXSIM000002"} << QStringList{"0:kept=1"}
        << "came back with 9600 OvUdp485: not applied";
    QTest::newRow("set, never back")
        << QStringList{"--silent-chance 1"}
        << QStringList{"set", "127.0.0.3", "--baud", "115200", "--wait", "--wait-timeout", "2",
               "--timeout", "0.3"}
        << 1 << QStringList{"127.0.0.3 timed-out "} << QStringList{"0:applied=1"}
        << "did not come back within 2 s";
}

void LbxctlTest::siteStories()
{
    QFETCH(QStringList, simulators);
    QFETCH(QStringList, arguments);
    std::vector<std::unique_ptr<SimulatorProcess>> running;
    QStringList journals;
    for (const QString &options : qAsConst(simulators)) {
        journals.append(folder.filePath(QStringLiteral("story%1").arg(journals.size())));
        QFile::remove(journals.constLast());
        running.push_back(std::make_unique<SimulatorProcess>(
            options.split(' ') + QStringList{"--journal", journals.constLast()}));
        QVERIFY(running.back()->started());
    }
    const Run run = lbxctl(arguments + QStringList{"--json"});
    QTEST(storyOf(run), "story");
    QTEST(run.status, "status");
    QFETCH(QString, says);
    QVERIFY2(run.out.contains(says), qPrintable(run.out));
    // The last datagrams may still be on their way; every command went out once.
    QFETCH(QStringList, changes);
    QTRY_COMPARE(changesIn(journals), changes);
}

// A receive buffer too small for a whole site's answers: a search that lost
// some is repeated and says so, and requests are paced so that none is lost.
void LbxctlTest::largeSiteWithASmallBuffer()
{
    {
        // Sixty answers, 1 s late, while lbxctl cannot read them: they overflow
        // its 4 KiB buffer, and are said and searched for again. What such a
        // search found is less than the site: no success, and no roster.
        SimulatorProcess sixty({"--count", "60", "--delay", "1000"});
        QVERIFY(sixty.started());
        const QString roster = folder.filePath(QStringLiteral("lossy.json"));
        for (const QStringList &command : {QStringList{"discover", "--save", roster},
                 QStringList{"upload-log", "--all", "--dry-run"}}) {
            FakeConverters listener(0);
            const qint64 droppedBefore = receiveBufferErrors();
            Lbxctl search(command
                + QStringList{"--interface", "lbx0", "--receive-buffer", "4", "--timeout", "2"});
            QTRY_VERIFY(!listener.broadcasts().isEmpty());
            search.signal(SIGSTOP);
            QTRY_VERIFY_WITH_TIMEOUT(receiveBufferErrors() > droppedBefore, 30000);
            search.signal(SIGCONT);
            const Run searched = search.finish();
            QVERIFY2(searched.err.contains(QStringLiteral("the system dropped ")),
                qPrintable(searched.err));
            QCOMPARE(searched.status, 1);
            QVERIFY(listener.broadcasts().size() > 1);
        }
        QVERIFY(!QFile::exists(roster));
    }
    const int count = 300;
    SimulatorProcess simulator({"--count", QString::number(count), "--restart", "60000"});
    QVERIFY(simulator.started());
    const Run run = lbxctl(
        {"set", "--all", "--baud", "19200", "--receive-buffer", "32", "--timeout", "5", "--json"});
    // However fast this machine, every converter the search kept is set, once,
    // and a search that lost answers is said, and is no success.
    const bool lossy = run.err.contains(QStringLiteral("the system dropped "));
    QCOMPARE(run.status, lossy ? 1 : 0);
    QVERIFY(lossy ? run.lines().size() <= count : run.lines().size() == count);
    for (const QJsonObject &line : run.objects())
        QCOMPARE(line.value(QStringLiteral("outcome")), QJsonValue(QStringLiteral("done")));
    QTRY_COMPARE(simulator.output().count(QStringLiteral("; restarts")), run.lines().size());
}

// A sweep of 300 converters in a /22 into a small buffer: paced at its rate
// (however fast this machine), it asks each address once and loses none;
// the buffer it is given, and so how many questions it leaves open, is what
// the system granted. The polls of a wait keep to their rate too.
void LbxctlTest::sweepKeepsItsPaceAndLosesNone()
{
    const QString journal = folder.filePath(QStringLiteral("sweep.journal"));
    SimulatorProcess simulator({"--count", "300", "--base", "127.0.4.1", "--journal", journal});
    QVERIFY(simulator.started());
    QElapsedTimer clock;
    clock.start();
    const Run sweep = lbxctl({"discover", "--sweep", "127.0.4.0/22", "--receive-buffer", "32",
                                 "--rate", "1000", "--json"},
        "1");
    QVERIFY2(
        clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed()))); // 1022 at 1000/s
    QCOMPARE(sweep.err, QString());
    QCOMPARE(sweep.status, 0);
    QSet<QString> listed;
    for (const QJsonObject &line : sweep.objects())
        listed.insert(line.value(QStringLiteral("ip")).toString());
    QCOMPARE(listed.size(), 300);
    QVERIFY(listed.contains("127.0.4.1") && listed.contains("127.0.5.44"));
    const QList<QByteArray> heard = contents(journal).split('\n');
    QCOMPARE(heard.size(), 300 + 1); // each asked once, and only lbx.info
    for (const QByteArray &line : heard.mid(0, 300))
        QCOMPARE(QJsonDocument::fromJson(line).object().value("call"), QJsonValue("lbx.info"));
    // Waiting for them to come back, it polls at most a thousand a second (a
    // tenth of a second's worth at once): the 300 polls take 0.2 s at least.
    const Run set = lbxctl({"set", "--all", "--sweep", "127.0.4.0/22", "--rate", "5000", "--baud",
                               "19200", "--wait", "--json"},
        "1");
    QCOMPARE(set.status, 0);
    QList<double> polls; // the times of lbx.info since the last lbx.set: the wait's
    for (const QByteArray &line : contents(journal).split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.value("call") == QJsonValue("lbx.set"))
            polls.clear();
        else if (entry.value("call") == QJsonValue("lbx.info"))
            polls.append(entry.value("t").toDouble());
    }
    QCOMPARE(polls.size(), 300);
    QVERIFY2(polls.constLast() - polls.constFirst() >= 0.19,
        qPrintable(QString::number(polls.constLast() - polls.constFirst())));
    // Linux grants twice what is asked, as the socket's bookkeeping takes half.
    const Run doctor = lbxctl({"doctor", "--receive-buffer", "64"});
    QVERIFY2(doctor.out.contains("Receive buffer: 64 KiB asked, 128 KiB granted; a sweep leaves "
                                 "up to 128 questions unanswered at once"),
        qPrintable(doctor.out));
}

void LbxctlTest::forgedTableRows_data()
{
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("columns"); // what a terminal gives it; -1: one a character
    QTest::newRow("line break") << "X\nFAKE 6.6.6.6"
                                << "\"X\\nFAKE 6.6.6.6\"" << -1;
    QTest::newRow("escape sequence") << "\x1b[2J\x1b[31mRED"
                                     << "\"\\x1b[2J\\x1b[31mRED\"" << -1;
    QTest::newRow("bidirectional override")
        << QString::fromUtf8("AB\u202eCD") << "\"AB\\u{202e}CD\"" << -1;
    QTest::newRow("zero width, which makes two uuids look alike")
        << QString::fromUtf8("A\u200bB") << "\"A\\u{200b}B\"" << -1;
    QTest::newRow("blank and quote") << "say \"hi\""
                                     << "\"say \\\"hi\\\"\"" << -1;
    QTest::newRow("argument markers") << "%2%7"
                                      << "%2%7" << -1;
    QTest::newRow("emoji, two columns each")
        << QString::fromUtf8("\U0001F600\U0001F600\U0001F600")
        << QString::fromUtf8("\U0001F600\U0001F600\U0001F600") << 6;
    QTest::newRow("combining accents, none a column")
        << QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301e\u0301")
        << QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301e\u0301") << 5;
}

void LbxctlTest::forgedTableRows()
{
    QFETCH(QString, uuid);
    QFETCH(QString, shown);
    QFETCH(int, columns);
    FakeConverters converters(1);
    answerInfo(converters, {uuid});
    const Run table = lbxctl({"discover"});
    QCOMPARE(table.lines().size(), 2);
    // The address in the column of its head, wherever the uuid ends.
    const int width = qMax(4, columns < 0 ? int(shown.size()) : columns);
    QCOMPARE(table.lines().at(0).indexOf(QStringLiteral("IP")), width + 2);
    const QString blanks(width - (columns < 0 ? shown.size() : columns), QLatin1Char(' '));
    QVERIFY2(table.lines().at(1).startsWith(shown + blanks + QStringLiteral("  127.0.0.2 ")),
        qPrintable(table.out));
    for (const QChar c : table.out)
        QVERIFY(c == QLatin1Char('\n')
            || (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format));
    QCOMPARE(lbxctl({"discover", "--json"}).objects().value(0).value("uuid").toString(), uuid);
}

void LbxctlTest::hostileConverterForgesNoLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("shows"); // the converter's data, escaped
    // The converter's uuid, as JSON writes it.
    const QByteArray uuid = R"("EVIL\u001b[2J\nFAKE")";
    QTest::newRow("discover's table") << QStringList{"discover"} << "\\u{202e}Ov\\nFAKE";
    QTest::newRow("set, and what it came back with") << QStringList{"set", "127.0.0.2", "--baud",
        "19200", "--wait"} << "confirmed 19200 \"\\u{202e}Ov\\nFAKE\"";
    QTest::newRow("a refusal in the converter's words")
        << QStringList{"update", "127.0.0.2"} << "failed: error \"\\x1b[2Jno\\nFAKE\"";
    QTest::newRow("check's findings")
        << QStringList{"check", "--expect", "2"} << "\"EVIL\\x1b[2J\\nFAKE\"";
    QTest::newRow("a roster's changes") << QStringList{"check",
        fileIn(folder,
            R"({"converters":[{"uuid":)" + uuid + R"(,"ip":"127.0.0.2","baud":4800,)"
                + R"("pluginName":"x\u0007y"}]})")}
                                        << "\"x\\x07y\" -> \"\\u{202e}Ov\\nFAKE\"";
    QTest::newRow("a plan's rows") << QStringList{"apply",
        fileIn(folder, R"({"uuid":)" + uuid + R"(,"baud":19200})" + "\n"), "--dry-run"}
                                   << "\"EVIL\\x1b[2J\\nFAKE\"";
}

// A converter whose every text holds terminal controls and line breaks: no
// command lets it forge a line or reach the terminal.
void LbxctlTest::hostileConverterForgesNoLine()
{
    QFETCH(QStringList, arguments);
    FakeConverters converters(1);
    int baud = 9600;
    converters.answer = [&](int, const QByteArray &request) {
        const QJsonObject asked = QJsonDocument::fromJson(request).object();
        const QString call = asked.value("call").toString();
        if (call == QLatin1String("lbx.set")) {
            baud = asked.value("arg").toObject().value("baud").toInt();
            return QByteArray(R"({"ack":"lbx.set","result":"ok"})");
        }
        if (call == QLatin1String("lbx.update"))
            return QByteArray(R"({"ack":"lbx.update","error":"\u001b[2Jno\nFAKE"})");
        return QJsonDocument(
            QJsonObject{{"ack", "lbx.info"},
                {"arg",
                    QJsonObject{{"uuid", "EVIL\x1b[2J\nFAKE"}, {"romVersion", "\x1b]0;x\x07"},
                        {"appVersion", 1.5}, {"baud", baud},
                        {"pluginName", QString::fromUtf8("\u202eOv\nFAKE")}}}})
            .toJson(QJsonDocument::Compact);
    };
    const Run run = lbxctl(arguments, "0.3");
    const QString said = run.out + run.err;
    QFETCH(QString, shows);
    QVERIFY2(said.contains(shows), qPrintable(said));
    for (const QString &line : said.split(QLatin1Char('\n'))) {
        QVERIFY2(!line.startsWith(QLatin1String("FAKE")), qPrintable(said));
        for (const QChar c : line)
            QVERIFY2(c.category() != QChar::Other_Control && c.category() != QChar::Other_Format,
                qPrintable(said));
    }
}

// Each line is printed as soon as its outcome is known; an interrupt says what
// was sent and not yet answered.
void LbxctlTest::linesAppearAsOutcomesAreKnownUntilInterrupted()
{
    SimulatorProcess simulator({});
    QVERIFY(simulator.started());
    Lbxctl run({"upload-log", "127.0.0.2", "127.0.0.9", "--timeout", "30", "--json"});
    QTRY_VERIFY(run.outputSoFar().contains(QStringLiteral("\"outcome\":\"done\"")));
    QVERIFY(run.running());
    run.interrupt();
    const Run done = run.finish();
    QCOMPARE(done.status, 130);
    QCOMPARE(done.fields({"ip", "outcome", "ok"}),
        QStringList({"127.0.0.2 done true", "127.0.0.9 pending false"}));
}

void LbxctlTest::interruptedSearchSaysSo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("note");
    QTest::addColumn<bool>("secondRound"); // interrupted once the first round's answers are in
    QTest::newRow("set by uuid") << QStringList{"set", "LBX1", "--baud", "9600", "--timeout", "30"}
                                 << "interrupted during the search; nothing was sent" << false;
    QTest::newRow("discover keeps what it found, and the roster as it was")
        << QStringList{"discover", "--retries", "100", "--timeout", "0.3", "--save",
               folder.filePath(QStringLiteral("interrupted.json"))}
        << "interrupted: the list holds the converters found so far" << true;
}

// Ctrl-C during a long search: every command says what it cut short, and
// nothing goes out but the search; what it found so far replaces no roster.
void LbxctlTest::interruptedSearchSaysSo()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, secondRound);
    FakeConverters converters(1);
    answerInfo(converters, {"FOUND"});
    Lbxctl run(arguments);
    QVERIFY(converters.waitForBroadcast());
    // Each round asks from a port of its own.
    QVERIFY(!secondRound || QTest::qWaitFor([&] {
        return converters.broadcasts().constLast().fromPort
            != converters.broadcasts().constFirst().fromPort;
    }));
    run.interrupt();
    const Run done = run.finish();
    QCOMPARE(done.status, 130);
    QFETCH(QString, note);
    QVERIFY2(done.err.contains(note), qPrintable(done.err));
    QCOMPARE(done.out.contains(QStringLiteral("FOUND")), secondRound);
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("interrupted.json"))));
    QCOMPARE(converters.unicastTotal(), 0);
}

void LbxctlTest::outputThatCannotBeWritten()
{
    SimulatorProcess simulator({});
    QVERIFY(simulator.started());
    const Run run = Lbxctl({"discover", "--timeout", "0.2"}, QStringLiteral("/dev/full")).finish();
    QCOMPARE(run.status, 74);
    QVERIFY2(run.err.contains(QStringLiteral("cannot write the output: No space left on device")),
        qPrintable(run.err));
    for (const QStringList &arguments : {QStringList{"set", "--help"}, QStringList{"--version"}})
        QCOMPARE(Lbxctl(arguments, QStringLiteral("/dev/full")).finish().status, 74);
    // Metrics that cannot be written fail the monitoring unit, which takes 1 for "not all ok".
    const Run metrics = lbxctl(
        {"check", "--expect", "1", "--format", "openmetrics", "--output", "/nonexistent/x.prom"});
    QCOMPARE(metrics.status, 74);
}

void LbxctlTest::slowConverterIsJudgedByWhatItReports_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("commandLost"); // else it takes a setting 2.5 s after acknowledging
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    const QStringList wait{"--wait", "--wait-timeout", "8", "--retries", "1"};
    QTest::newRow("a reset lost on its way") << QStringList{"factory", "127.0.0.2", "--yes"} + wait
                                             << true << 1 << "not-applied: no acknowledgement";
    QTest::newRow("an update lost on its way") << QStringList{"update", "127.0.0.2"} + wait << true
                                               << 1 << "not-applied: no acknowledgement";
    QTest::newRow("a setting taken late") << QStringList{"set", "127.0.0.2", "--baud", "115200"}
            + wait << false << 0 << "confirmed: confirmed 115200 OvUdp485 after ";
}

// A converter busy for 2.5 s after a command, silent to lbx.info or still
// reporting its old settings: --wait judges it by what it reports once back,
// and its old settings are final only once it has restarted, or after 10 s.
void LbxctlTest::slowConverterIsJudgedByWhatItReports()
{
    QFETCH(bool, commandLost);
    FakeConverters converters(1);
    QElapsedTimer sinceCommand;
    converters.answer = [&](int, const QByteArray &request) {
        const bool command = call(request) != QLatin1String("lbx.info");
        if (command)
            sinceCommand.start();
        const bool busy = sinceCommand.isValid() && sinceCommand.elapsed() < 2500;
        if (commandLost)
            return busy ? QByteArray() : info(9600);
        return command ? QByteArray(R"({"ack":"lbx.set","result":"ok"})")
                       : info(busy ? 9600 : 115200);
    };
    QFETCH(QStringList, arguments);
    const Run run = lbxctl(arguments + QStringList{"--json"}, "0.3");
    QTEST(run.status, "status");
    QFETCH(QString, says);
    const QJsonObject line = run.objects().value(0);
    QVERIFY2(
        (line.value("outcome").toString() + ": " + line.value("text").toString()).startsWith(says),
        qPrintable(run.out));
    QCOMPARE(run.lines().size(), 1);
}

// What a terminal shows of the text written to it: each carriage return
// goes back to the line's start, and what follows overwrites what was there.
QStringList screen(const QString &written)
{
    QStringList rows;
    for (const QString &line : written.split(QLatin1Char('\n'))) {
        QString row;
        for (const QString &part : line.split(QLatin1Char('\r')))
            row = part + row.mid(part.size());
        if (!row.trimmed().isEmpty())
            rows.append(row.trimmed());
    }
    return rows;
}

// On a terminal a long wait or sweep shows its progress, which gives way to
// the results: each starts on a clean line, with no progress text before it.
void LbxctlTest::progressGivesWayToResultsOnATerminal_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<QString>("rows"); // what every row on the screen holds
    QTest::addColumn<int>("count");
    QTest::newRow("a wait") << QStringList{"--count", "2", "--restart", "2500"}
                            << "set 127.0.0.2 127.0.0.3 --baud 115200 --wait --timeout 0.3"
                            << " pending, "
                            << " set: confirmed 115200 OvUdp485 after " << 2;
    QTest::newRow("a sweep") << QStringList{"--count", "2", "--base", "127.0.4.1"}
                             << "discover --sweep 127.0.4.0/22 --rate 500 --timeout 0.3"
                             << "sweep: "
                             << "  1.5  " << 3;
}

void LbxctlTest::progressGivesWayToResultsOnATerminal()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, command);
    SimulatorProcess converters(simulator);
    QVERIFY(converters.started());
    QProcess terminal; // script(1) gives lbxctl a pseudo-terminal
    terminal.start(
        QStringLiteral("script"), {"-qec", QStringLiteral(LBXCTL_PATH " ") + command, "/dev/null"});
    terminal.closeWriteChannel();
    QVERIFY(terminal.waitForFinished(60000));
    const QString written = QString::fromUtf8(terminal.readAllStandardOutput());
    QFETCH(QString, progress);
    QVERIFY2(written.contains(progress), qPrintable(written));
    const QStringList shown = screen(written);
    QTEST(int(shown.size()), "count");
    QFETCH(QString, rows);
    for (const QString &row : shown) {
        if (!row.startsWith(QStringLiteral("UUID"))) // a table's head
            QVERIFY2(row.startsWith(QStringLiteral("LBXSIM00000")) && row.contains(rows)
                    && !row.contains(progress),
                qPrintable(row));
    }
}

void LbxctlTest::siteVisitWithARoster()
{
    const QString roster = folder.filePath(QStringLiteral("site.json"));
    {
        SimulatorProcess visit({"--count", "4"});
        QVERIFY(visit.started());
        QCOMPARE(lbxctl({"discover", "--save", roster}).status, 0);
    }
    // Saved again with the site dark, the roster keeps what it knew.
    const QByteArray saved = contents(roster);
    QCOMPARE(lbxctl({"discover", "--save", roster}).status, 1);
    QCOMPARE(contents(roster), saved);

    // Next visit: the third converter was replaced, the fourth is off, the
    // second was set to 115200 baud.
    SimulatorProcess now({"--count", "3", "--uuid", "3=REPLACED", "--restart", "300"});
    QVERIFY(now.started());
    QCOMPARE(lbxctl({"set", "127.0.0.3", "--baud", "115200", "--wait"}).status, 0);
    const Run check = lbxctl({"check", roster, "--json"});
    QCOMPARE(check.status, 1);
    QStringList findings = check.fields({"check", "uuid", "ip"});
    findings.removeLast(); // the summary
    QCOMPARE(findings,
        QStringList({"ok LBXSIM000001 127.0.0.2", "changed LBXSIM000002 127.0.0.3",
            "missing LBXSIM000003 127.0.0.4", "missing LBXSIM000004 127.0.0.5",
            "new REPLACED 127.0.0.4"}));
    QCOMPARE(check.objects().value(1).value("changes"),
        QJsonObject({{"baud", QJsonObject{{"from", "9600"}, {"to", "115200"}}}}));
    QCOMPARE(
        check.objects().constLast(), QJsonObject({{"expected", 4}, {"found", 3}, {"ok", false}}));
}

// A change made from a plan and undone from its backup: each converter goes
// back to exactly what it reported, plug-ins no window knows and the empty
// one included; one that reported none is said to be put back in part only.
void LbxctlTest::undoPutsBackWhatEachConverterReported()
{
    SimulatorProcess site(
        {"--count", "3", "--plugin", "1=Modbus485", "--plugin", "2=", "--no-plugin", "3"});
    QVERIFY(site.started());
    const QString plan = fileIn(folder,
        "uuid,baud,plugin\nLBXSIM000001,19200,OvTcp485\nLBXSIM000002,19200,OvTcp485\n"
        "LBXSIM000003,19200,OvTcp485\n");
    const QString backup = folder.filePath(QStringLiteral("undo.json"));
    const Run change = lbxctl({"apply", plan, "--backup", backup, "--wait-timeout", "5"});
    QCOMPARE(change.status, 0);
    QVERIFY2(change.err.contains(QStringLiteral("the undo of this run is in ") + backup),
        qPrintable(change.err));
    const Run undo = lbxctl({"apply", backup, "--json", "--wait-timeout", "5"});
    QCOMPARE(undo.status, 1);
    QStringList outcomes = undo.fields({"uuid", "outcome"}).filter(QRegularExpression(" \\w"));
    outcomes.sort();
    QCOMPARE(outcomes,
        QStringList({"LBXSIM000001 confirmed", "LBXSIM000002 confirmed", "LBXSIM000003 partial"}));
    QStringList now = lbxctl({"discover", "--json"}).fields({"uuid", "baud", "pluginName"});
    now.sort();
    QCOMPARE(now,
        QStringList(
            {"LBXSIM000001 9600 Modbus485", "LBXSIM000002 9600 ", "LBXSIM000003 9600 OvTcp485"}));
}

// Converter data ends up in label values and spreadsheet cells; two
// converters claim one uuid.
void LbxctlTest::metricsAndSpreadsheetsTakeHostileUuids()
{
    FakeConverters converters(3);
    const QString forged = QStringLiteral("A\"B\\C\nD");
    answerInfo(converters, {QStringLiteral("=HYPERLINK(\"x\")"), forged, forged});
    const Run check = lbxctl({"check", "--expect", "3", "--json"});
    QCOMPARE(check.status, 1);
    QVERIFY2(check.fields({"check", "ip", "detail"})
                 .contains("duplicate 127.0.0.3 uuid also at 127.0.0.4"),
        qPrintable(check.out));
    const Run csv = lbxctl({"discover", "--format", "csv"});
    QCOMPARE(csv.status, 0);
    QStringList rows = csv.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(rows.takeFirst(),
        QString::fromUtf8("\xef\xbb\xbfuuid,ip,appVersion,romVersion,baud,pluginName,caption"));
    QCOMPARE(rows.value(0),
        QString::fromUtf8(
            "\"'=HYPERLINK(\"\"x\"\")\",127.0.0.2,1.5,1.0,9600,OvUdp485,网络字节协议"));

    const QString file = folder.filePath(QStringLiteral("lbx.prom"));
    const Run metrics
        = lbxctl({"check", "--expect", "3", "--format", "openmetrics", "--output", file});
    QCOMPARE(metrics.status, 1);
    // The file for node_exporter, a line for the unit's journal.
    QCOMPARE(metrics.out,
        QStringLiteral("3 of 3 expected converters answered; 2 duplicate: \"A\\\"B\\\\C\\nD\", "
                       "\"A\\\"B\\\\C\\nD\"\n"));
    const QByteArray text = contents(file);
    QVERIFY2(text.contains("lbx_converter_up{uuid=\"A\\\"B\\\\C\\nD\",ip=\"127.0.0.3\"} 1"), text);
    QVERIFY(text.contains("\nlbx_check_last_success_timestamp_seconds 1"));
    QVERIFY(text.contains("\nlbx_converters_expected 3\n"));
    QVERIFY(text.contains("\nlbx_converters_found 3\n"));
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

void LbxctlTest::speaksTheTechniciansLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("heads"); // the discover table's, in the locale's encoding
    QTest::addColumn<QString>("outcome"); // the table's line, after the address
    QTest::addColumn<QString>("refusal");
    const QString chinese
        = QString::fromUtf8("UUID          IP               应用版本  ROM         "
                            "波特率  协议插件   说明");
    QTest::newRow("Chinese") << "zh_CN.UTF-8" << chinese << QString::fromUtf8("set: 已应答")
                             << QString::fromUtf8("lbxctl: set 需要 --baud\n");
    QTest::newRow("Chinese on a GB18030 terminal")
        << "zh_CN.GB18030" << chinese << QString::fromUtf8("set: 已应答")
        << QString::fromUtf8("lbxctl: set 需要 --baud\n");
    QTest::newRow("English") << "C.UTF-8"
                             << "UUID          IP               APP      ROM           BAUD  "
                                "PLUGIN     CAPTION"
                             << "set: answered"
                             << "lbxctl: set needs --baud\n";
}

void LbxctlTest::speaksTheTechniciansLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, heads);
    QFETCH(QString, outcome);
    QFETCH(QString, refusal);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("LANG"), locale);
    QTextCodec *codec = QTextCodec::codecForName(locale.section(QLatin1Char('.'), 1).toLatin1());
    QTemporaryDir locales; // few systems have a GB18030 locale built
    if (locale.endsWith(QLatin1String("GB18030"))) {
        QCOMPARE(QProcess::execute(QStringLiteral("localedef"),
                     {"-i", "zh_CN", "-f", "GB18030", locales.filePath(locale)}),
            0);
        environment.insert(QStringLiteral("LOCPATH"), locales.path());
    }
    SimulatorProcess simulator({"--count", "2", "--uuid", "2=LBXSIM000001"});
    QVERIFY(simulator.started());
    // A search waits its whole timeout; a command ends at its answer, however slow the machine.
    const auto run = [&](const QStringList &arguments) {
        const char *timeout = arguments.contains(QStringLiteral("set")) ? "10" : "1";
        Run done = Lbxctl(arguments + QStringList{"--timeout", timeout}, {}, environment).finish();
        done.out = codec->toUnicode(done.bytes);
        done.err = codec->toUnicode(done.errBytes);
        return done;
    };
    QCOMPARE(run({"discover"}).lines().value(0), heads);
    const Run table = run({"set", "127.0.0.2", "--baud", "19200"});
    QCOMPARE(table.lines().value(0).section(QLatin1String("127.0.0.2"), 1).trimmed(), outcome);
    QCOMPARE(table.status, 0);
    QCOMPARE(run({"set", "127.0.0.2"}).err, refusal);
    // What machines read is the same in every language, and in UTF-8.
    QCOMPARE(run({"check", "--expect", "2", "--json"}).fields({"detail"}).value(0),
        QStringLiteral("uuid also at 127.0.0.3"));
    const Run json = run({"set", "127.0.0.2", "--baud", "19200", "--json", "--wait"});
    QCOMPARE(json.status, 0);
    QCOMPARE(QString::fromUtf8(json.bytes), json.out);
    QCOMPARE(json.fields({"ip", "command", "outcome"}), QStringList{"127.0.0.2 set confirmed"});
    QVERIFY2(json.objects().value(0).value("text").toString().startsWith(
                 "confirmed 19200 OvUdp485 after "),
        qPrintable(json.out));
}

void LbxctlTest::badInputSendsNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown baud rate")
        << QStringList{"set", "127.0.0.2", "--baud", "57600"} << "unknown baud rate \"57600\"";
    QTest::newRow("factory without --yes")
        << QStringList{"factory", "127.0.0.2"} << "add --yes to go ahead";
    QTest::newRow("leading zero, octal elsewhere")
        << QStringList{"factory", "127.0.0.010", "--yes"} << "without leading zeros";
    QTest::newRow("directed broadcast")
        << QStringList{"set", "10.77.0.255", "--baud", "9600"} << "is not one converter's address";
    QTest::newRow("a timeout that is no number") << QStringList{"discover", "--timeout", "nan"}
                                                 << "--timeout takes seconds from 0.01 to 3600";
    QTest::newRow("discover with a target")
        << QStringList{"discover", "127.0.0.3"} << "discover takes no targets";
    QTest::newRow("unknown uuid") << QStringList{"update", "LBXSIM000001", "NOSUCH"}
                                  << "no converter with the uuid \"NOSUCH\"";
    QTest::newRow("an empty target, as an unset variable gives")
        << QStringList{"factory", "", "--yes"} << "names no converter";
    QTest::newRow("a roster that lists no converter")
        << QStringList{"check", fileIn(folder, R"({"converters":[]})")} << "lists no converter";
    QTest::newRow("a roster that lists a converter twice") << QStringList{"check",
        fileIn(folder,
            R"({"converters":[{"uuid":"A","ip":"127.0.0.2"},)"
            R"({"uuid":"A","ip":"127.0.0.2"}]})")} << "lists a converter twice";
    QTest::newRow("a plan with a bad line")
        << QStringList{"apply", fileIn(folder, "uuid,baud,plugin\nLBXSIM000001,9600,Json\n")}
        << "line 2: unknown plug-in \"Json\"";
    // The undo of an earlier run is never lost, nor the plan taken for the undo.
    const QString plan = fileIn(folder, "uuid,baud,plugin\nLBXSIM000001,19200,\n");
    QTest::newRow("a backup that is the plan itself")
        << QStringList{"apply", plan, "--backup", plan} << "is the plan itself";
    QTest::newRow("a backup that would replace an earlier one")
        << QStringList{"apply", plan, "--backup", fileIn(folder, R"({"converters":[]})")}
        << "may hold the undo of an earlier run";
    QTest::newRow("a backup without a name")
        << QStringList{"apply", plan, "--backup", ""} << "--backup names no file";
}

void LbxctlTest::badInputSendsNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    FakeConverters converters(3);
    answerInfo(converters, {"LBXSIM000001", "LBXSIM000002", "LBXSIM000003"});
    const Run run = lbxctl(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    // Nothing reached the converters but, for a uuid, the search that looked for it.
    QVERIFY(converters.settle());
    QCOMPARE(converters.unicastTotal(), 0);
    for (const Received &request : converters.broadcasts())
        QCOMPARE(call(request.bytes), QStringLiteral("lbx.info"));
}

// As git's and ip's: "help COMMAND" is "COMMAND --help", a command's own
// options come first, and every line fits 80 columns.
void LbxctlTest::helpShowsWhatACommandNeedsFirst()
{
    QStringList lines = Lbxctl({"--help"}).finish().lines();
    const QStringList commands = lines.filter(QRegularExpression("^  [a-z]"));
    QCOMPARE(commands.size(), 8);
    for (const QString &line : commands) {
        const QString command = line.section(' ', 2, 2);
        const Run help = Lbxctl({"help", command}).finish();
        QCOMPARE(help.status, 0);
        QCOMPARE(Lbxctl({command, "--help"}).finish().out, help.out);
        lines += help.lines();
    }
    QCOMPARE(lines.value(lines.indexOf(QStringLiteral("Usage: lbxctl set TARGET... --baud N "
                                                      "[--plugin NAME] [OPTION...]"))
                 + 3),
        QStringLiteral("  --baud N                Baud rate: 4800, 9600, 19200, 38400 or 115200."));
    for (const QString &line : qAsConst(lines))
        QVERIFY2(line.size() <= 80, qPrintable(line));
    // The defaults a technician counts on, as the help states them.
    const char *const defaults[][2] = {{"set", "from 0.01 to 3600 (default 2)."},
        {"set", "more times (default 2); it is set"}, {"set", "to come back (default 60)."},
        {"discover", "to 5000 (default 200)."}, {"discover", "KiB (default 16384;"},
        {"discover", "and merges the answers (default 0)."},
        {"factory", "to come back (default 180)."}};
    for (const auto &[command, stated] : defaults)
        QVERIFY2(Lbxctl({"help", command}).finish().out.simplified().contains(stated), stated);
}

QTEST_GUILESS_MAIN(LbxctlTest)
#include "tst_lbxctl.moc"
