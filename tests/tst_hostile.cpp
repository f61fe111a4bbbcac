// A whole building's converters, and whatever any host on the LAN sends to the
// tool's port: nothing is lost to the tool's own buffers, listing stays linear,
// and no datagram crashes or stalls the receive path.

#include "lbxform.h"
#include "support.h"

#include <QComboBox>
#include <QListView>
#include <QRandomGenerator>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTest>

namespace {

// Counts how often the list measures an entry: the work of laying it out.
class CountingDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    mutable int measured = 0;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        ++measured;
        return QStyledItemDelegate::sizeHint(option, index);
    }
};

// Counts how often the open list is sized over all its rows: opening it asks
// every row whether it has children, and doing that for each new entry is what
// made listing quadratic.
class CountingModel : public QStandardItemModel
{
public:
    using QStandardItemModel::QStandardItemModel;
    mutable qint64 asked = 0;
    bool hasChildren(const QModelIndex &parent = {}) const override
    {
        ++asked;
        return QStandardItemModel::hasChildren(parent);
    }
};

// A window whose start-up search one test converter has heard.
struct SearchedWindow
{
    FakeConverters converters{1};
    LBXForm form;
    QComboBox *uuidBox() { return widget<QComboBox>(&form, "uuidBox"); }
    bool search()
    {
        form.show();
        return converters.waitForBroadcast();
    }
};

QByteArray nested(int depth)
{
    return QByteArray(R"({"ack":"lbx.info","arg":)") + QByteArray(depth, '[')
        + QByteArray(depth, ']') + '}';
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

} // namespace

class HostileTest : public QObject
{
    Q_OBJECT

private slots:
    void aThousandConvertersInOneBurstAreAllListed();
    void listingWorkGrowsLinearly();
    void malformedDatagrams_data();
    void malformedDatagrams();
    void everyJsonTypeInEveryMember();
};

void HostileTest::aThousandConvertersInOneBurstAreAllListed()
{
    SimulatorProcess simulator({QStringLiteral("--count"), QStringLiteral("1000")});
    QVERIFY(simulator.started());
    LBXForm form;
    form.show();
    auto *uuidBox = widget<QComboBox>(&form, "uuidBox");
    QTRY_COMPARE_WITH_TIMEOUT(uuidBox->count(), 1000, 30000);
    QCOMPARE(uuidBox->itemText(999), QStringLiteral("LBXSIM001000"));
    // The drop-down is open and holds every entry.
    QVERIFY(uuidBox->view()->isVisible());
    QCOMPARE(uuidBox->view()->model()->rowCount(), 1000);
}

void HostileTest::listingWorkGrowsLinearly()
{
    constexpr int converters = 400;
    SearchedWindow window;
    QComboBox *uuidBox = window.uuidBox();
    auto *model = new CountingModel(uuidBox);
    uuidBox->setModel(model);
    auto *delegate = new CountingDelegate(uuidBox);
    uuidBox->setItemDelegate(delegate);
    QVERIFY(window.search());
    DebugLines debug;
    for (int n = 0; n < converters; ++n) {
        window.converters.sendInfo(0, QStringLiteral("converter-%1").arg(n));
        // One at a time, each laid out before the next comes, as on a quiet LAN.
        QTRY_COMPARE(uuidBox->count(), n + 1);
        QCoreApplication::processEvents();
    }
    QVERIFY(uuidBox->view()->isVisible());
    QCOMPARE(model->rowCount(), converters);
    qInfo("for %d converters, entries measured %d times, rows walked %lld times", converters,
        delegate->measured, model->asked);
    // Going over every entry for each new one would be converters²/2 = 80,000.
    QVERIFY(delegate->measured < 20 * converters);
    QVERIFY(model->asked < 50 * converters);
}

void HostileTest::malformedDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    static const char withNulsText[] = "{\"ack\":\"lbx.set\"}\0\0\0garbage";
    const QByteArray withNuls(withNulsText, sizeof withNulsText - 1);
    QTest::newRow("random bytes") << randomBytes(1500, 1);
    QTest::newRow("random bytes, largest datagram") << randomBytes(65507, 2);
    QTest::newRow("largest info reply") << QByteArray(R"({"ack":"lbx.info","arg":{"uuid":")")
            + QByteArray(65507 - 40, 'u') + R"("}})";
    QTest::newRow("nested 30,000 deep") << nested(30000);
    QTest::newRow("nested at the parser's limit") << nested(1023);
    QTest::newRow("invalid UTF-8")
        << QByteArray("{\"ack\":\"lbx.info\",\"arg\":{\"uuid\":\"\xff\xfe\xc0\xaf\"}}");
    QTest::newRow("NUL bytes") << withNuls;
    QTest::newRow("NUL in a string")
        << QByteArray("{\"ack\":\"lbx.info\",\"arg\":{\"uuid\":\"a\\u0000b\"}}");
    QTest::newRow("only NUL") << QByteArray(512, '\0');
    QTest::newRow("unterminated string") << QByteArray(R"({"ack":"lbx.info","arg":{"uuid":")");
    QTest::newRow("huge number") << QByteArray(
        R"({"ack":"lbx.info","arg":{"appVersion":1e308,"baud":-1e308}})");
    QTest::newRow("number overflowing double")
        << QByteArray(R"({"ack":"lbx.info","arg":{"appVersion":1e999}})");
    QTest::newRow("many members") << [] {
        QByteArray members;
        for (int i = 0; i < 4000; ++i)
            members += "\"m" + QByteArray::number(i) + "\":" + QByteArray::number(i) + ',';
        return QByteArray(R"({"ack":"lbx.info","arg":{)") + members + R"("uuid":"wide"}})";
    }();
    QTest::newRow("duplicate keys")
        << QByteArray(R"({"ack":"lbx.info","ack":"lbx.set","arg":{"uuid":"a","uuid":"b"}})");
}

// Each is sent, then an ordinary reply: the tool logs both and lists the second.
void HostileTest::malformedDatagrams()
{
    QFETCH(QByteArray, datagram);
    SearchedWindow window;
    QVERIFY(window.search());
    BoxCatcher boxes;
    DebugLines debug;
    window.converters.send(0, datagram);
    window.converters.sendInfo(0, QStringLiteral("still listening"));
    QTRY_COMPARE(debug.withWord(QStringLiteral("onRecvData")).size(), 2);
    QTRY_VERIFY(window.uuidBox()->findText(QStringLiteral("still listening")) >= 0);
}

void HostileTest::everyJsonTypeInEveryMember()
{
    const QByteArrayList values = {"null", "true", "false", "0", "-1", "1.5e300", R"("")",
        R"("text")", "[]", "[1,\"a\"]", "{}", R"({"a":{"b":[]}})"};
    const QByteArrayList members = {"uuid", "romVersion", "appVersion", "baud", "pluginName", "ip"};
    SearchedWindow window;
    QVERIFY(window.search());
    BoxCatcher boxes;
    DebugLines debug;
    QList<QByteArray> datagrams;
    for (const QByteArray &value : values) {
        datagrams.append(R"({"ack":)" + value + '}');
        datagrams.append(R"({"ack":"lbx.info","arg":)" + value + '}');
        for (const QByteArray &member : members)
            datagrams.append(R"({"ack":"lbx.info","arg":{")" + member + "\":" + value + "}}");
    }
    int sent = 0;
    for (const QByteArray &datagram : datagrams) {
        window.converters.send(0, datagram);
        ++sent;
        QTRY_COMPARE(debug.withWord(QStringLiteral("onRecvData")).size(), sent);
    }
    // Records without a string uuid share the empty one; the others are listed.
    QComboBox *uuidBox = window.uuidBox();
    QVERIFY(uuidBox->findText(QString()) >= 0);
    QVERIFY(uuidBox->findText(QStringLiteral("text")) >= 0);
    QCOMPARE(uuidBox->count(), 2);
    QCOMPARE(boxes.boxes.size(), 0);
}

QTEST_MAIN(HostileTest)
#include "tst_hostile.moc"
