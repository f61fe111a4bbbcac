// A technician's whole session against three simulated converters: lbxsim runs
// as its own process, and the test drives the real window.

#include "lbxform.h"
#include "support.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startupSearchListsThreeConverters();
    void applyToTheSecondConverter();
    void maintenanceCommandsAndTheirBoxes_data();
    void maintenanceCommandsAndTheirBoxes();
    void factoryResetAnsweredYesRestoresDefaults();
    void factoryResetAnsweredNoChangesNothing();

private:
    QComboBox *box(const char *name) const { return widget<QComboBox>(form.get(), name); }
    QPushButton *button(const char *name) const { return widget<QPushButton>(form.get(), name); }
    QString label(const char *name) const { return widget<QLabel>(form.get(), name)->text(); }
    void searchAgain();
    void applyToSecond(int baud, int plugin);
    // What the detail view shows for list entry n: uuid, ip, baud, protocol.
    QStringList shown(int entry);

    std::unique_ptr<SimulatorProcess> simulator;
    std::unique_ptr<LBXForm> form;
};

void EndToEndTest::init()
{
    simulator = std::make_unique<SimulatorProcess>(
        QStringList{QStringLiteral("--count"), QStringLiteral("3")});
    QVERIFY(simulator->started());
    form = std::make_unique<LBXForm>();
    form->show();
    QTRY_COMPARE(box("uuidBox")->count(), 3);
}

void EndToEndTest::cleanup()
{
    form.reset();
    simulator.reset();
}

void EndToEndTest::searchAgain()
{
    QTest::mouseClick(button("searchBtn"), Qt::LeftButton);
    QCOMPARE(box("uuidBox")->count(), 0);
    QTRY_COMPARE(box("uuidBox")->count(), 3);
}

void EndToEndTest::applyToSecond(int baud, int plugin)
{
    BoxCatcher boxes;
    pickEntry(box("uuidBox"), 1);
    box("baudBox")->setCurrentIndex(baud);
    box("pluginBox")->setCurrentIndex(plugin);
    QTest::mouseClick(button("configBtn"), Qt::LeftButton);
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.constFirst().title, QString::fromUtf8("配置"));
    QCOMPARE(boxes.boxes.constFirst().text, QString::fromUtf8("配置已经更新, 30s后请重新搜索!"));
    QTRY_COMPARE(boxes.openNow(), 0);
}

QStringList EndToEndTest::shown(int entry)
{
    box("uuidBox")->setCurrentIndex(entry);
    return {label("macLabel"), label("ipLabel"), box("baudBox")->currentText(),
        box("pluginBox")->currentText()};
}

void EndToEndTest::startupSearchListsThreeConverters()
{
    QCOMPARE(box("uuidBox")->itemText(0), QStringLiteral("LBXSIM000001"));
    QCOMPARE(box("uuidBox")->itemText(1), QStringLiteral("LBXSIM000002"));
    QCOMPARE(box("uuidBox")->itemText(2), QStringLiteral("LBXSIM000003"));
    QCOMPARE(label("macLabel"), QStringLiteral("LBXSIM000001"));
    QCOMPARE(label("versionLabel"), QStringLiteral("1.5(2.0.1)"));
    QCOMPARE(shown(2),
        QStringList({"LBXSIM000003", "127.0.0.4", "9600", QString::fromUtf8("网络字节协议")}));
    QVERIFY(button("configBtn")->isEnabled());
}

void EndToEndTest::applyToTheSecondConverter()
{
    applyToSecond(4, 2);
    QVERIFY(
        simulator->waitForOutput(QStringLiteral("LBXSIM000002: set: baud 9600, plug-in OvUdp485 -> "
                                                "baud 115200, plug-in OvTcp485")));
    searchAgain();
    QCOMPARE(shown(1),
        QStringList({"LBXSIM000002", "127.0.0.3", "115200", QString::fromUtf8("JSON协议")}));
    QCOMPARE(shown(0),
        QStringList({"LBXSIM000001", "127.0.0.2", "9600", QString::fromUtf8("网络字节协议")}));
    QCOMPARE(shown(2),
        QStringList({"LBXSIM000003", "127.0.0.4", "9600", QString::fromUtf8("网络字节协议")}));
}

void EndToEndTest::maintenanceCommandsAndTheirBoxes_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("simulatorSays");
    QTest::newRow("upload log") << "uploadLogBtn" << QString::fromUtf8("上传日志")
                                << QString::fromUtf8("日志已经上传!")
                                << "LBXSIM000003: uploads its log";
    QTest::newRow("update") << "updateBtn" << QString::fromUtf8("更新")
                            << QString::fromUtf8("设备检测更新中,2分钟后请重新搜索!")
                            << "LBXSIM000003: looks for an update";
}

void EndToEndTest::maintenanceCommandsAndTheirBoxes()
{
    QFETCH(QString, buttonName);
    QFETCH(QString, simulatorSays);
    BoxCatcher boxes;
    pickEntry(box("uuidBox"), 2);
    QTest::mouseClick(button(qPrintable(buttonName)), Qt::LeftButton);
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QTEST(boxes.boxes.constFirst().title, "title");
    QTEST(boxes.boxes.constFirst().text, "text");
    QVERIFY(simulator->waitForOutput(simulatorSays));
    QTRY_COMPARE(boxes.openNow(), 0);
}

void EndToEndTest::factoryResetAnsweredYesRestoresDefaults()
{
    applyToSecond(3, 3);
    searchAgain();
    QCOMPARE(shown(1),
        QStringList({"LBXSIM000002", "127.0.0.3", "38400", QString::fromUtf8("VEXO协议")}));

    BoxCatcher boxes(BoxCatcher::press(QMessageBox::Yes));
    QTest::mouseClick(button("factoryBtn"), Qt::LeftButton);
    boxes.setAnswer(BoxCatcher::escape());
    QTRY_COMPARE(boxes.boxes.size(), 2);
    QCOMPARE(boxes.boxes.at(0).text, QString::fromUtf8("确定恢复出厂吗,保存配置和数据都会丢失!!"));
    QCOMPARE(boxes.boxes.at(1).title, QString::fromUtf8("恢复出厂"));
    QCOMPARE(boxes.boxes.at(1).text, QString::fromUtf8("恢复出厂中,请等待设备重启(2~3分钟)!"));
    QVERIFY(simulator->waitForOutput(QStringLiteral("LBXSIM000002: factory reset")));
    QTRY_COMPARE(boxes.openNow(), 0);

    searchAgain();
    QCOMPARE(shown(1),
        QStringList({"LBXSIM000002", "127.0.0.3", "9600", QString::fromUtf8("网络字节协议")}));
}

void EndToEndTest::factoryResetAnsweredNoChangesNothing()
{
    applyToSecond(0, 1);
    BoxCatcher boxes(BoxCatcher::press(QMessageBox::No));
    QTest::mouseClick(button("factoryBtn"), Qt::LeftButton);
    QCOMPARE(boxes.boxes.size(), 1);

    searchAgain();
    QCOMPARE(shown(1),
        QStringList({"LBXSIM000002", "127.0.0.3", "4800", QString::fromUtf8("485字节协议")}));
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(!simulator->output().contains(QStringLiteral("factory")));
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
