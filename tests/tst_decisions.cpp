// What lbxctl decides before it sends anything, and what it makes of the
// answers: which addresses a sweep asks, when a search is made again, what
// doctor makes of an adapter on Linux and on Windows, what a plan asks of
// each converter, and what changed since a roster was saved. No sockets.

#include "adapter.h"
#include "addressrange.h"
#include "plan.h"
#include "rostercheck.h"
#include "targets.h"
#include "translation.h"

#include <QTest>

Q_DECLARE_METATYPE(FoundConverter)
using Checked = QMap<QString, QStringList>;
Q_DECLARE_METATYPE(Checked)

namespace {

QJsonObject record(const QString &uuid, const QString &ip, int baud = 9600,
    const QString &plugin = QStringLiteral("OvUdp485"))
{
    return {{"uuid", uuid}, {"ip", ip}, {"appVersion", 1.5}, {"romVersion", "2.0"}, {"baud", baud},
        {"pluginName", plugin}};
}

FoundConverter found(const QString &uuid, const QString &ip, int baud = 9600,
    const QString &plugin = QStringLiteral("OvUdp485"))
{
    return {uuid, QHostAddress(ip), record(uuid, ip, baud, plugin), false};
}

// A site: A and B as they left the factory, SAME at two addresses, C and TWIN
// answering from one.
const QList<FoundConverter> site{found("A", "127.0.0.2"), found("B", "127.0.0.3"),
    found("SAME", "127.0.0.4"), found("SAME", "127.0.0.5"), found("C", "127.0.0.6"),
    found("TWIN", "127.0.0.6")};

// A converter whose uuid is a JSON number, or one heard from an address the
// search did not ask.
FoundConverter numbered(double uuid, const QString &ip)
{
    QJsonObject reported = record({}, ip);
    reported.insert("uuid", uuid);
    return {uuidName(uuid), QHostAddress(ip), reported, false};
}
FoundConverter unasked(const QString &uuid, const QString &ip)
{
    FoundConverter converter = found(uuid, ip);
    converter.asked = false;
    return converter;
}

} // namespace

class DecisionsTest : public QObject
{
    Q_OBJECT

private slots:
    void whereACommandMayGo_data();
    void whereACommandMayGo();
    void searchMadeAgain_data();
    void searchMadeAgain();
    void adaptersAsDoctorSeesThem_data();
    void adaptersAsDoctorSeesThem();
    void hintsForEachSystem_data();
    void hintsForEachSystem();
    void languageOfTheMessages_data();
    void languageOfTheMessages();
    void sweptAddresses_data();
    void sweptAddresses();
    void planAgainstTheSite_data();
    void planAgainstTheSite();
    void siteAgainstItsRoster_data();
    void siteAgainstItsRoster();
};

void DecisionsTest::whereACommandMayGo_data()
{
    QTest::addColumn<QStringList>("targets"); // as the command line names them; "--all"
    QTest::addColumn<QList<FoundConverter>>("found");
    // What an address answered when asked just before the command, where it is
    // not what the search heard there: uuids, or none.
    QTest::addColumn<Checked>("checked");
    QTest::addColumn<QStringList>("verdicts"); // "ip send", or why nothing goes out
    const Checked asHeard;
    QTest::newRow("a uuid alone at its address")
        << QStringList{"A"} << site << asHeard << QStringList{"127.0.0.2 send"};
    QTest::newRow("a uuid whose address answers as another too")
        << QStringList{"TWIN"} << site << asHeard << QStringList{"127.0.0.6 ambiguous"};
    QTest::newRow("that address, named")
        << QStringList{"127.0.0.6"} << site << asHeard << QStringList{"127.0.0.6 send"};
    QTest::newRow("a uuid no longer there when asked") << QStringList{
        "A"} << site << Checked{{"127.0.0.2", {}}} << QStringList{"127.0.0.2 not-found"};
    QTest::newRow("a uuid another converter answers for when asked") << QStringList{
        "uuid:A"} << site << Checked{{"127.0.0.2", {"Z"}}} << QStringList{"127.0.0.2 ambiguous"};
    QTest::newRow("a uuid at two addresses")
        << QStringList{"B", "SAME"} << site << asHeard
        << QStringList{"refused: the uuid \"SAME\" answered from 127.0.0.4, 127.0.0.5"};
    QTest::newRow("a uuid heard only from an address not asked")
        << QStringList{"FAR"} << (site + QList<FoundConverter>{unasked("FAR", "127.0.0.99")})
        << asHeard << QStringList{"refused: the uuid \"FAR\" answered only from 127.0.0.99"};
    QTest::newRow("--all leaves out what answered from an address not asked")
        << QStringList{"--all"}
        << QList<FoundConverter>{found("A", "127.0.0.2"), unasked("FAR", "127.0.0.99")} << asHeard
        << QStringList{"127.0.0.2 send", "127.0.0.99 unasked"};
    QTest::newRow("--all takes no address answering as two")
        << QStringList{"--all"}
        << QList<FoundConverter>{found("C", "127.0.0.6"), found("TWIN", "127.0.0.6")} << asHeard
        << QStringList{"127.0.0.6 ambiguous"};
    QTest::newRow("a uuid that is a number, named by its text")
        << QStringList{"111"}
        << QList<FoundConverter>{numbered(111, "127.0.0.2"), numbered(222, "127.0.0.3")} << asHeard
        << QStringList{"127.0.0.2 send"};
    QTest::newRow("111 and \"111\" share the name, not the uuid")
        << QStringList{"111"}
        << QList<FoundConverter>{numbered(111, "127.0.0.2"), found("111", "127.0.0.3")} << asHeard
        << QStringList{"refused: the uuid \"111\" answered from 127.0.0.2, 127.0.0.3"};
}

void DecisionsTest::whereACommandMayGo()
{
    QFETCH(QStringList, targets);
    QFETCH(QList<FoundConverter>, found);
    QFETCH(Checked, checked);
    TargetSet set;
    for (const QString &text : qAsConst(targets)) {
        if (text == QLatin1String("--all"))
            set.all = true;
        else
            set.named.append(parseTarget(text));
    }
    const Resolution resolution = resolve(set, found);
    QStringList got;
    if (!resolution.refusal.isEmpty())
        got.append(QStringLiteral("refused: ") + resolution.refusal);
    for (const Aim &aim : resolution.aims) {
        const QString ip = aim.address.toString();
        QList<QJsonValue> heard;
        for (const FoundConverter &converter : found) {
            if (converter.address == aim.address)
                heard.append(converter.uuidValue());
        }
        const bool answered = !checked.contains(ip) || !checked.value(ip).isEmpty();
        for (const QString &uuid : checked.value(ip))
            heard.append(uuid);
        const char *const names[] = {"send", "ambiguous", "not-found"};
        got.append(ip + ' ' + names[int(clearance(aim, heard, answered))]);
    }
    for (const FoundConverter &converter : resolution.unasked)
        got.append(converter.address.toString() + QStringLiteral(" unasked"));
    QFETCH(QStringList, verdicts);
    QCOMPARE(got.size(), verdicts.size());
    for (int i = 0; i < got.size(); ++i) // a refusal goes on to say what to do
        QVERIFY2(got.at(i).startsWith(verdicts.at(i)), qPrintable(got.at(i)));
}

void DecisionsTest::searchMadeAgain_data()
{
    QTest::addColumn<qint64>("dropsBefore");
    QTest::addColumn<qint64>("dropsAfter");
    QTest::addColumn<bool>("foundMore");
    QTest::addColumn<int>("extraSoFar");
    QTest::addColumn<bool>("repeating");
    QTest::addColumn<int>("repeat"); // 0 no, 1 lost answers, 2 drops unknown
    QTest::newRow("lost answers, found more") << qint64(5) << qint64(9) << true << 0 << false << 1;
    QTest::newRow("lost answers, found no more")
        << qint64(5) << qint64(9) << false << 0 << false << 0;
    QTest::newRow("lost answers a fourth time")
        << qint64(5) << qint64(9) << true << 3 << false << 0;
    QTest::newRow("drops not told: once more")
        << qint64(-1) << qint64(-1) << true << 0 << false << 2;
    QTest::newRow("drops not told, searched again already")
        << qint64(-1) << qint64(-1) << false << 1 << true << 0;
}

void DecisionsTest::searchMadeAgain()
{
    QFETCH(qint64, dropsBefore);
    QFETCH(qint64, dropsAfter);
    QFETCH(bool, foundMore);
    QFETCH(int, extraSoFar);
    QFETCH(bool, repeating);
    QTEST(int(repeatAfterRound({dropsBefore, dropsAfter, foundMore, extraSoFar, repeating})),
        "repeat");
}

void DecisionsTest::adaptersAsDoctorSeesThem_data()
{
    QTest::addColumn<int>("system"); // 0 Linux, 1 Windows
    QTest::addColumn<QStringList>("adapter"); // name, friendly name, description
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("seen"); // label: looks
    const int ethernet = QNetworkInterface::Ethernet;
    const int virtualType = QNetworkInterface::Virtual;
    QTest::newRow("Linux cable") << 0 << QStringList{"eth0", "eth0", ""} << ethernet << "eth0: ";
    QTest::newRow("Linux WireGuard")
        << 0 << QStringList{"wg0", "wg0", ""} << ethernet << "wg0: a VPN";
    QTest::newRow("Windows cable")
        << 1 << QStringList{"ethernet_32769", "Ethernet 2", "Intel(R) Ethernet Connection I219-LM"}
        << ethernet << "ethernet_32769 (Ethernet 2): ";
    QTest::newRow("Windows Hyper-V switch")
        << 1
        << QStringList{"ethernet_32770", "vEthernet (Default Switch)",
               "Hyper-V Virtual Ethernet Adapter"}
        << ethernet << "ethernet_32770 (vEthernet (Default Switch)): virtual";
    QTest::newRow("Windows OpenVPN")
        << 1 << QStringList{"ethernet_32772", "OpenVPN TAP", "TAP-Windows Adapter V9"} << ethernet
        << "ethernet_32772 (OpenVPN TAP): a VPN";
    QTest::newRow("Windows dial-up") << 1 << QStringList{"ppp_32768", "Dial-up", "WAN Miniport"}
                                     << int(QNetworkInterface::Ppp) << "ppp_32768 (Dial-up): a VPN";
    QTest::newRow("Windows virtual by type")
        << 1 << QStringList{"ethernet_32774", "Ethernet 5", "Some Adapter"} << virtualType
        << "ethernet_32774 (Ethernet 5): virtual";
    // Windows rules do not read a name as Linux's do.
    QTest::newRow("a Linux-like name on Windows")
        << 1 << QStringList{"tunnel_32512", "tun", "Microsoft Kernel Debug Network Adapter"}
        << ethernet << "tunnel_32512 (tun): ";
}

void DecisionsTest::adaptersAsDoctorSeesThem()
{
    QFETCH(int, system);
    QFETCH(QStringList, adapter);
    QFETCH(int, type);
    const AdapterFacts facts{
        adapter[0], adapter[1], adapter[2], QNetworkInterface::InterfaceType(type), false};
    const System on = system == 0 ? System::Linux : System::Windows;
    QTEST(adapterLabel(facts) + QStringLiteral(": ")
            + adapterLooks(facts, on).join(QStringLiteral(", ")),
        "seen");
    // --interface takes the name, or the friendly name in any case.
    QVERIFY(namesAdapter(adapter[0], adapter[0], adapter[1]));
    QVERIFY(namesAdapter(adapter[1].toUpper(), adapter[0], adapter[1]));
    QVERIFY(!namesAdapter(adapter[0] + QLatin1Char('x'), adapter[0], adapter[1]));
}

void DecisionsTest::hintsForEachSystem_data()
{
    QTest::addColumn<int>("system");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("never");
    QTest::newRow("Linux") << 0
                           << QStringList{"nft add rule inet filter input udp sport 12166 accept",
                                  "ufw allow proto udp from any port 12166", "(here 40001)",
                                  "bring it up (ip link set eth0 up)"}
                           << QStringList{"netsh", "Windows"};
    QTest::newRow("Windows") << 1
                             << QStringList{"Windows Defender Firewall", "\"Allow\"",
                                    "netsh advfirewall firewall add rule", "protocol=UDP",
                                    "program=\"%ProgramFiles%\\LBXConfig\\bin\\lbxctl.exe\"",
                                    "(here 40001)", "from port 12166",
                                    "ethernet_32769 (Ethernet 2)", "ncpa.cpl"}
                             << QStringList{"nft ", "ufw", "ip link"};
}

void DecisionsTest::hintsForEachSystem()
{
    QFETCH(int, system);
    QFETCH(QStringList, says);
    QFETCH(QStringList, never);
    const System on = system == 0 ? System::Linux : System::Windows;
    const AdapterFacts adapter = system == 0
        ? AdapterFacts{"eth0", "eth0", {}, QNetworkInterface::Ethernet, false}
        : AdapterFacts{"ethernet_32769", "Ethernet 2", {}, QNetworkInterface::Ethernet, false};
    const QString hints
        = firewallHint(on, 40001) + QLatin1Char('\n') + downHint(on, adapter, "10.0.0.5");
    for (const QString &text : says)
        QVERIFY2(hints.contains(text), qPrintable(text + QStringLiteral(" in ") + hints));
    for (const QString &text : never)
        QVERIFY2(!hints.contains(text), qPrintable(text + QStringLiteral(" in ") + hints));
}

void DecisionsTest::languageOfTheMessages_data()
{
    // LC_ALL, LC_MESSAGES, LANG, LANGUAGE, and the languages wanted.
    QTest::addColumn<QByteArrayList>("environment");
    QTest::addColumn<QStringList>("wanted");
    QTest::newRow("LANG") << QByteArrayList{"", "", "zh_CN.UTF-8", ""} << QStringList{"zh_CN"};
    QTest::newRow("LC_MESSAGES over LANG")
        << QByteArrayList{"", "zh_CN.UTF-8", "en_US.UTF-8", ""} << QStringList{"zh_CN"};
    QTest::newRow("LC_ALL over both")
        << QByteArrayList{"C.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", ""} << QStringList{};
    QTest::newRow("LANGUAGE lists them")
        << QByteArrayList{"", "", "en_GB.UTF-8", "zh_CN:en"} << QStringList{"zh_CN", "en"};
    QTest::newRow("the C locale ignores LANGUAGE")
        << QByteArrayList{"", "", "C", "zh_CN"} << QStringList{};
    QTest::newRow("a modifier") << QByteArrayList{"", "", "zh_CN@pinyin", ""}
                                << QStringList{"zh_CN"};
}

void DecisionsTest::languageOfTheMessages()
{
    QFETCH(QByteArrayList, environment);
    QTEST(
        messageLanguages(environment[0], environment[1], environment[2], environment[3]), "wanted");
}

void DecisionsTest::sweptAddresses_data()
{
    QTest::addColumn<QString>("range");
    // "how many: first .. last", or the start of the refusal.
    QTest::addColumn<QString>("expected");
    QTest::newRow("a /24 without its network and broadcast address")
        << "10.80.0.0/24"
        << "254: 10.80.0.1 .. 10.80.0.254";
    QTest::newRow("an adapter's own address stands for its network")
        << "192.168.1.77/30"
        << "2: 192.168.1.77 .. 192.168.1.78";
    QTest::newRow("a /31 is two hosts") << "10.0.0.6/31"
                                        << "2: 10.0.0.6 .. 10.0.0.7";
    QTest::newRow("a /32 is one host") << "10.0.0.9/32"
                                       << "1: 10.0.0.9 .. 10.0.0.9";
    QTest::newRow("a /16 is the widest") << "172.16.0.0/16"
                                         << "65534: 172.16.0.1 .. 172.16.255.254";
    QTest::newRow("wider than a /16") << "172.16.0.0/15"
                                      << "172.16.0.0/15 holds more than a /16";
    QTest::newRow("multicast") << "239.1.0.0/16"
                               << "239.1.0.0/16 lies in 0.0.0.0/8, multicast";
    QTest::newRow("a prefix past 32") << "10.80.0.0/33"
                                      << "\"10.80.0.0/33\" is not an IPv4 range";
    QTest::newRow("a leading zero, octal elsewhere") << "10.80.0.010/32"
                                                     << "\"10.80.0.010/32\" is not an IPv4 range";
    QTest::newRow("an octet past 255") << "10.80.0.256/32"
                                       << "\"10.80.0.256/32\" is not an IPv4 range";
}

void DecisionsTest::sweptAddresses()
{
    QFETCH(QString, range);
    QFETCH(QString, expected);
    QString error;
    const AddressRange parsed = addressRange(range, &error);
    if (!error.isEmpty()) {
        QVERIFY2(error.startsWith(expected), qPrintable(error));
        QCOMPARE(parsed.prefix, -1);
        return;
    }
    const QList<QHostAddress> hosts = parsed.hosts();
    QCOMPARE(QStringLiteral("%1: %2 .. %3")
                 .arg(hosts.size())
                 .arg(hosts.constFirst().toString(), hosts.constLast().toString()),
        expected);
}

void DecisionsTest::planAgainstTheSite_data()
{
    QTest::addColumn<QByteArray>("plan");
    // What apply makes of it: a step for each row and converter, or every bad line.
    QTest::addColumn<QStringList>("expected");
    const QStringList others{
        "not-in-plan SAME", "not-in-plan SAME", "not-in-plan C", "not-in-plan TWIN"};
    QTest::newRow("CSV, columns in any order, among others")
        << QByteArray("\xef\xbb\xbfroom,plugin,baud,uuid\r\nhall,OvUdp485,9600,A\r\n"
                      "\"kitchen, east\",OvTcp485,115200,B\r\nstore,,9600,GONE\r\n")
        << QStringList{"unchanged A", "set B 115200 OvTcp485", "missing GONE"} + others;
    QTest::newRow("without a plug-in, the converter keeps its own")
        << QByteArray("uuid,baud,plugin\nA,9600,\nB,19200,\n")
        << QStringList{"unchanged A", "set B 19200"} + others;
    QTest::newRow("a plug-in alone is a change")
        << QByteArray("uuid,baud,plugin\nA,9600,Net485\n")
        << QStringList{"set A 9600 Net485", "not-in-plan B"} + others;
    QTest::newRow("an address that answers as two uuids")
        << QByteArray("uuid,baud,plugin\nC,115200,\n")
        << QStringList{"ambiguous C", "not-in-plan A", "not-in-plan B", "not-in-plan SAME",
               "not-in-plan SAME", "not-in-plan TWIN"};
    QTest::newRow("JSON lines") << QByteArray(
        "{\"uuid\":\"B\",\"baud\":38400,\"plugin\":\"OvCom485\"}\n\n"
        "{\"uuid\":\"SAME\",\"baud\":\"9600\"}\n")
                                << QStringList{"set B 38400 OvCom485", "ambiguous SAME",
                                       "not-in-plan A", "not-in-plan C", "not-in-plan TWIN"};
    QTest::newRow("every bad line, by its number")
        << QByteArray("uuid,baud,plugin\nA,9600,\n\nB,9600,Json\n,9600,\nC,57600,\nA,4800,\n")
        << QStringList{"line 4: unknown plug-in \"Json\" (OvUdp485, OvCom485, OvTcp485, Net485, "
                       "or empty to keep the converter's own)",
               "line 5: no uuid",
               "line 6: unknown baud rate \"57600\" (4800, 9600, 19200, 38400 or 115200)",
               "line 7: the uuid \"A\" is also on line 2"};
    QTest::newRow("a header without the columns")
        << QByteArray("id,speed\nA,9600\n")
        << QStringList{"line 1: the header must name the columns uuid, baud and plugin"};
    QTest::newRow("a quote not closed") << QByteArray("uuid,baud,plugin\n\"A,9600,\n")
                                        << QStringList{"line 2: a quote is not closed"};
    QTest::newRow("a spreadsheet's note with a line break") << QByteArray(
        "uuid,note,baud,plugin\r\nA,\"north wall,\r\nsecond shelf\",9600,\r\n"
        "B,,19200,\r\n") << QStringList{"unchanged A", "set B 19200"} + others;
    QTest::newRow("JSON members of the wrong type, by line")
        << QByteArray("{\"uuid\":\"A\",\"baud\":9600,\"plugin\":[\"OvTcp485\"]}\n"
                      "{\"uuid\":true,\"baud\":9600}\n{\"uuid\":\"B\",\"baud\":true}\n")
        << QStringList{"line 1: the plug-in is not text",
               "line 2: the uuid is neither text nor a number",
               "line 3: the baud rate is neither a number nor text"};
    // A roster saved before a change (discover --save, apply --backup) puts it back.
    QTest::newRow("a roster, read by its content")
        << QByteArray(
               "{\n  \"computer\": \"x\",\n  \"converters\": [\n"
               "    {\"uuid\": \"A\", \"ip\": \"127.0.0.9\", \"baud\": 115200, "
               "\"pluginName\": \"OvTcp485\"},\n"
               "    {\"uuid\": \"B\", \"baud\": 9600, \"pluginName\": \"OvUdp485\"}\n  ]\n}\n")
        << QStringList{"set A 115200 OvTcp485", "unchanged B"} + others;
    // Each converter it cannot tell apart is left, and said; the others go back
    // to exactly what they reported, plug-ins no window knows included.
    QTest::newRow("a roster's converters that cannot be put back")
        << QByteArray(R"({"converters":[{"uuid":"A","baud":9600,"pluginName":"OvUdp485"},7,)"
                      R"({"uuid":"A","baud":4800,"pluginName":"OvUdp485"},{"uuid":"","baud":9600},)"
                      R"({"uuid":"B","baud":9600,"pluginName":"Modbus485"}]})")
        << QStringList{"not-restorable A: its uuid is also that of converter 3",
               "not-restorable : it is no converter's record",
               "not-restorable A: its uuid is also that of converter 1",
               "not-restorable : it reported no uuid", "set B 9600 Modbus485"}
            + others;
    QTest::newRow("a roster puts back the empty plug-in, and says where it holds none")
        << QByteArray(R"({"converters":[{"uuid":"A","baud":9600,"pluginName":""},)"
                      R"({"uuid":"B","baud":9600},{"uuid":111,"baud":9600}]})")
        << QStringList{"set A 9600 \"\"", "unchanged B (no plug-in)", "missing 111"} + others;
    QTest::newRow("JSON that is not an object") << QByteArray(
        "{\"uuid\":\"A\",\"baud\":9600}\n[1]\n") << QStringList{"line 2: not a JSON object"};
}

void DecisionsTest::planAgainstTheSite()
{
    QFETCH(QByteArray, plan);
    const PlanReading reading = readPlan(QString::fromUtf8(plan));
    const char *const kinds[]
        = {"missing", "ambiguous", "unchanged", "set", "not-in-plan", "not-restorable"};
    QStringList steps;
    for (const PlanStep &step : comparePlan(reading.rows, site)) {
        const QString uuid = step.row ? step.row->uuid : step.converters.constFirst().uuid;
        QString text = QStringLiteral("%1 %2").arg(QLatin1String(kinds[step.kind]), uuid);
        if (step.kind == PlanStep::Set)
            text += ' ' + plannedText(step.row->settings);
        if (step.kind == PlanStep::Unrestorable)
            text += QStringLiteral(": ") + step.row->unrestorable;
        if (step.row && step.row->pluginUnknown)
            text += QStringLiteral(" (no plug-in)");
        steps.append(text);
    }
    QFETCH(QStringList, expected);
    const QStringList got = reading.errors.isEmpty() ? steps : reading.errors;
    QCOMPARE(got.size(), expected.size());
    for (int i = 0; i < got.size(); ++i) // a reason may go on to say what follows from it
        QVERIFY2(got.at(i).startsWith(expected.at(i)), qPrintable(got.at(i)));
}

void DecisionsTest::siteAgainstItsRoster_data()
{
    QTest::addColumn<QList<QJsonObject>>("roster");
    QTest::addColumn<QList<FoundConverter>>("now");
    QTest::addColumn<QStringList>("findings");
    QTest::addColumn<bool>("allOk");
    const QList<QJsonObject> roster{record("A", "127.0.0.2"), record("B", "127.0.0.3")};
    QTest::newRow("set to another baud rate, and moved")
        << roster << QList<FoundConverter>{found("A", "127.0.0.2", 115200), found("B", "127.0.0.9")}
        << QStringList{"changed A 127.0.0.2 baud 9600 -> 115200",
               "changed B 127.0.0.9 ip 127.0.0.3 -> 127.0.0.9"}
        << false;
    QTest::newRow("one replaced") << roster
                                  << QList<FoundConverter>{found("A", "127.0.0.2"),
                                         found("NEW", "127.0.0.3")}
                                  << QStringList{"ok A 127.0.0.2 ",
                                         "missing B 127.0.0.3 in the roster, did not answer",
                                         "new NEW 127.0.0.3 answered, not in the roster"}
                                  << false;
    QTest::newRow("a uuid at two addresses")
        << roster
        << QList<FoundConverter>{found("A", "127.0.0.2"), found("B", "127.0.0.3"),
               found("B", "127.0.0.4")}
        << QStringList{"ok A 127.0.0.2 ", "duplicate B 127.0.0.3 uuid also at 127.0.0.4",
               "duplicate B 127.0.0.4 uuid also at 127.0.0.3"}
        << false;
    // The first of two sharing a uuid is off: the second is still itself.
    QTest::newRow("a shared uuid, the first off")
        << QList<QJsonObject>{record("S", "127.0.0.2"), record("S", "127.0.0.3")}
        << QList<FoundConverter>{found("S", "127.0.0.3")}
        << QStringList{"missing S 127.0.0.2 in the roster, did not answer", "ok S 127.0.0.3 "}
        << false;
    // Matched by value: 111 and "111" are two converters.
    QTest::newRow("uuids that are numbers")
        << QList<QJsonObject>{numbered(111, "127.0.0.2").record, record("111", "127.0.0.3")}
        << QList<FoundConverter>{numbered(111, "127.0.0.2"), found("111", "127.0.0.3")}
        << QStringList{"ok 111 127.0.0.2 ", "ok 111 127.0.0.3 "} << true;
}

void DecisionsTest::siteAgainstItsRoster()
{
    QFETCH(QList<QJsonObject>, roster);
    QFETCH(QList<FoundConverter>, now);
    const QList<Finding> findings = compareWithRoster(roster, now, true);
    QStringList texts;
    for (const Finding &finding : findings)
        texts.append(QStringLiteral("%1 %2 %3 %4")
                         .arg(finding.kind, finding.uuid, finding.ip, finding.detail));
    QTEST(texts, "findings");
    QTEST(allOk(findings, roster.size(), now.size()), "allOk");
}

QTEST_GUILESS_MAIN(DecisionsTest)
#include "tst_decisions.moc"
