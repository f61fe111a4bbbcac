// The window as a technician meets it, before any converter has answered.

#include "lbxform.h"
#include "support.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QTest>

namespace {

const QString aboutText
    = QString::fromUtf8("Orvane485网络协议转换器\n接线:\n"
                        "第三方主机-->485-->协议转换器-->网络-->路由器-->音乐设备 \n\n"
                        "485端支持的协议:\n1.Orvane老的网络字节协议\n2.新的JSON网络协议,\n"
                        "3.老的485协议(不支持选曲命令)\n\n具体协议请参考最新的Orvane协议文档.");

QString textOf(QObject *object)
{
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        return button->text();
    if (auto *group = qobject_cast<QGroupBox *>(object))
        return group->title();
    return QStringLiteral("<no text>");
}

QStringList itemsOf(QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append(box->itemText(i));
    return items;
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { form = std::make_unique<LBXForm>(); }
    void cleanup() { form.reset(); }

    void captions_data();
    void captions();
    void fixedLists();
    void aboutText();
    void nothingSelectableBeforeAnswers();
    void windowIdentity();
    void onlySearchIsASlot();
    void boxLayoutRows_data();
    void boxLayoutRows();
    void configGrid_data();
    void configGrid();
    void spacers_data();
    void spacers();
    void sizePolicies_data();
    void sizePolicies();
    void focusFollowsCreationOrder();
    void formKeepsAGivenObjectName();

private:
    std::unique_ptr<LBXForm> form;
};

void WindowTest::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const char *rows[][2] = {
        {"label_2", "UUID:"},
        {"label_7", " 本机IP:"},
        {"label_8", ""},
        {"searchBtn", "搜索"},
        {"configGroup", "配置"},
        {"label", "波特率:"},
        {"label_4", "版本:"},
        {"macLabel", ""},
        {"baudLabel", ""},
        {"label_5", "UUID:"},
        {"label_3", "模式:"},
        {"ipLabel", ""},
        {"versionLabel", "000000"},
        {"configBtn", "应用"},
        {"label_6", "IP:"},
        {"systemGroup", "维护"},
        {"uploadLogBtn", "上传日志"},
        {"updateBtn", "升级"},
        {"factoryBtn", "恢复出厂"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromUtf8(row[1]);
}

void WindowTest::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QObject *object = form->findChild<QObject *>(name);
    QVERIFY2(object, qPrintable(name));
    QCOMPARE(textOf(object), text);
}

void WindowTest::fixedLists()
{
    auto *baudBox = widget<QComboBox>(form.get(), "baudBox");
    auto *pluginBox = widget<QComboBox>(form.get(), "pluginBox");
    QCOMPARE(itemsOf(baudBox), QStringList({"4800", "9600", "19200", "38400", "115200"}));
    QCOMPARE(itemsOf(pluginBox),
        QStringList({QString::fromUtf8("网络字节协议"), QString::fromUtf8("485字节协议"),
            QString::fromUtf8("JSON协议"), QString::fromUtf8("VEXO协议"),
            QString::fromUtf8("其他")}));
    // The command line speaks of the same entries.
    QStringList captions, rates;
    for (const Protocol::Plugin &plugin : Protocol::plugins)
        captions.append(QString::fromUtf8(plugin.caption));
    for (int rate : Protocol::baudRates)
        rates.append(QString::number(rate));
    QCOMPARE(captions, itemsOf(pluginBox));
    QCOMPARE(rates, itemsOf(baudBox));
    QCOMPARE(baudBox->currentIndex(), 0);
    QCOMPARE(pluginBox->currentIndex(), 0);
    QVERIFY(!baudBox->isEditable());
    QVERIFY(!pluginBox->isEditable());
}

void WindowTest::aboutText()
{
    auto *about = widget<QPlainTextEdit>(form.get(), "plainTextEdit");
    QCOMPARE(about->toPlainText(), ::aboutText);
    QVERIFY(about->isReadOnly());
    QCOMPARE(about->font().pointSize(), 9);
    QCOMPARE(about->font().family(), QApplication::font().family());
}

void WindowTest::nothingSelectableBeforeAnswers()
{
    QVERIFY(!widget<QGroupBox>(form.get(), "configGroup")->isEnabled());
    QVERIFY(!widget<QGroupBox>(form.get(), "systemGroup")->isEnabled());
    for (const char *button : {"configBtn", "uploadLogBtn", "updateBtn", "factoryBtn"})
        QVERIFY2(!widget<QPushButton>(form.get(), button)->isEnabled(), button);
    QVERIFY(widget<QPushButton>(form.get(), "searchBtn")->isEnabled());
    QVERIFY(widget<QComboBox>(form.get(), "uuidBox")->isEnabled());
    QCOMPARE(widget<QComboBox>(form.get(), "uuidBox")->count(), 0);
}

void WindowTest::windowIdentity()
{
    QCOMPARE(form->windowTitle(), QStringLiteral("LBXConfig"));
    QCOMPARE(form->objectName(), QStringLiteral("lbxform"));
    QCOMPARE(form->size(), QSize(540, 560));
    QVERIFY(form->isWindow());
    QCOMPARE(form->parentWidget(), nullptr);
}

void WindowTest::onlySearchIsASlot()
{
    const QMetaObject *meta = form->metaObject();
    QCOMPARE(meta->className(), "LBXForm");
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 1);
    const QMetaMethod search = meta->method(meta->methodOffset());
    QCOMPARE(search.methodSignature(), QByteArray("search()"));
    QCOMPARE(search.methodType(), QMetaMethod::Slot);
    QCOMPARE(search.access(), QMetaMethod::Public);
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
    QCOMPARE(meta->enumeratorCount(), meta->enumeratorOffset());
    QCOMPARE(meta->classInfoCount(), meta->classInfoOffset());
    QCOMPARE(form->qt_metacast("LBXForm"), static_cast<void *>(form.get()));
}

// Row items of the window's box layouts, in order: a widget's name, or the
// nested layout's name, or "spacer".
void WindowTest::boxLayoutRows_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("top row") << "horizontalLayout"
                             << ""
                             << QStringList{"label_2", "uuidBox", "spacer", "label_7", "ip",
                                    "label_8", "searchBtn"};
    QTest::newRow("window") << "verticalLayout"
                            << "lbxform"
                            << QStringList{"horizontalLayout", "configGroup", "systemGroup",
                                   "spacer", "spacer", "plainTextEdit"};
    QTest::newRow("maintenance") << "horizontalLayout_2"
                                 << "systemGroup"
                                 << QStringList{"spacer", "uploadLogBtn", "updateBtn", "factoryBtn",
                                        "spacer"};
}

void WindowTest::boxLayoutRows()
{
    QFETCH(QString, layout);
    QFETCH(QString, owner);
    QFETCH(QStringList, items);
    auto *box = form->findChild<QBoxLayout *>(layout);
    QVERIFY(box);
    if (!owner.isEmpty()) {
        QWidget *ownerWidget
            = owner == form->objectName() ? form.get() : form->findChild<QWidget *>(owner);
        QCOMPARE(ownerWidget->layout(), box);
    }
    QStringList found;
    for (int i = 0; i < box->count(); ++i) {
        QLayoutItem *item = box->itemAt(i);
        QCOMPARE(box->stretch(i), 0);
        QCOMPARE(item->alignment(), Qt::Alignment());
        if (item->widget())
            found.append(item->widget()->objectName());
        else if (item->layout())
            found.append(item->layout()->objectName());
        else
            found.append(QStringLiteral("spacer"));
    }
    QCOMPARE(found, items);
    for (int i = 0; i < box->count(); ++i) {
        if (QWidget *child = box->itemAt(i)->widget())
            QCOMPARE(child->parentWidget(), box->parentWidget());
    }
}

void WindowTest::configGrid_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    const struct
    {
        const char *name;
        int row, column;
    } cells[] = {
        {"label_5", 0, 0},
        {"macLabel", 0, 1},
        {"label_6", 1, 0},
        {"ipLabel", 1, 1},
        {"label_4", 2, 0},
        {"versionLabel", 2, 1},
        {"label", 3, 0},
        {"baudBox", 3, 1},
        {"label_3", 4, 0},
        {"pluginBox", 4, 1},
        {"baudLabel", 4, 4},
        {"configBtn", 5, 2},
    };
    for (const auto &cell : cells)
        QTest::newRow(cell.name) << QString::fromLatin1(cell.name) << cell.row << cell.column;
}

void WindowTest::configGrid()
{
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(int, column);
    auto *group = widget<QGroupBox>(form.get(), "configGroup");
    auto *grid = qobject_cast<QGridLayout *>(group->layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), QStringLiteral("gridLayout"));
    QCOMPARE(grid->count(), 12);
    QWidget *child = group->findChild<QWidget *>(name);
    QVERIFY(child);
    QCOMPARE(child->parentWidget(), group);
    int r, c, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(child), &r, &c, &rowSpan, &columnSpan);
    QCOMPARE(QPoint(c, r), QPoint(column, row));
    QCOMPARE(QSize(columnSpan, rowSpan), QSize(1, 1));
    QCOMPARE(grid->itemAtPosition(row, column)->alignment(), Qt::Alignment());
}

void WindowTest::spacers_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("index");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    const int expanding = QSizePolicy::Expanding, minimum = QSizePolicy::Minimum;
    QTest::newRow("top row") << "horizontalLayout" << 2 << QSize(40, 20) << expanding << minimum;
    QTest::newRow("before upload")
        << "horizontalLayout_2" << 0 << QSize(60, 20) << expanding << minimum;
    QTest::newRow("after factory")
        << "horizontalLayout_2" << 4 << QSize(59, 20) << expanding << minimum;
    QTest::newRow("under maintenance")
        << "verticalLayout" << 3 << QSize(20, 40) << minimum << expanding;
    QTest::newRow("above about") << "verticalLayout" << 4 << QSize(20, 40) << minimum << expanding;
}

void WindowTest::spacers()
{
    QFETCH(QString, layout);
    QFETCH(int, index);
    QFETCH(QSize, size);
    QFETCH(int, horizontal);
    QFETCH(int, vertical);
    QSpacerItem *spacer = form->findChild<QLayout *>(layout)->itemAt(index)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), size);
    QCOMPARE(int(spacer->sizePolicy().horizontalPolicy()), horizontal);
    QCOMPARE(int(spacer->sizePolicy().verticalPolicy()), vertical);
}

void WindowTest::sizePolicies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    QTest::newRow("uuidBox") << "uuidBox" << int(QSizePolicy::MinimumExpanding)
                             << int(QSizePolicy::Fixed);
    QTest::newRow("baudBox") << "baudBox" << int(QSizePolicy::Expanding) << int(QSizePolicy::Fixed);
    QTest::newRow("pluginBox") << "pluginBox" << int(QSizePolicy::Expanding)
                               << int(QSizePolicy::Fixed);
    QTest::newRow("plainTextEdit")
        << "plainTextEdit" << int(QSizePolicy::Expanding) << int(QSizePolicy::Minimum);
}

void WindowTest::sizePolicies()
{
    QFETCH(QString, name);
    QFETCH(int, horizontal);
    QFETCH(int, vertical);
    const QSizePolicy policy = form->findChild<QWidget *>(name)->sizePolicy();
    QCOMPARE(int(policy.horizontalPolicy()), horizontal);
    QCOMPARE(int(policy.verticalPolicy()), vertical);
    QCOMPARE(policy.horizontalStretch(), 0);
    QCOMPARE(policy.verticalStretch(), 0);
}

// Tab moves through the window in the order the widgets were created.
void WindowTest::focusFollowsCreationOrder()
{
    QStringList order;
    for (QWidget *w = form->nextInFocusChain(); w != form.get(); w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus)
            order.append(w->objectName());
    }
    QCOMPARE(order,
        QStringList({"uuidBox", "searchBtn", "baudBox", "pluginBox", "configBtn", "uploadLogBtn",
            "updateBtn", "factoryBtn", "plainTextEdit"}));
}

void WindowTest::formKeepsAGivenObjectName()
{
    QWidget named;
    named.setObjectName(QStringLiteral("mine"));
    Ui::lbxform ui;
    ui.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("mine"));
    QCOMPARE(ui.uuidBox->parentWidget(), &named);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
