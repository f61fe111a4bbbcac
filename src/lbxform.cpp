#include "lbxform.h"

#include <QApplication>
#include <QComboBox>
#include <QDebug>
#include <QHostAddress>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QPushButton>
#include <QStandardItemModel>

// Plug-in name to protocol index, in the protocol box's order; built before main(), never changed.
const Protocol::PluginTable pluginMap = Protocol::pluginTable();

// Reply boxes open now, counted across their nested event loops: a flood must not stack them.
static int openReplyBoxes = 0;

LBXForm::LBXForm()
    : QWidget(nullptr)
{
    ui.setupUi(this);

    // The handlers take no arguments: what a signal carries is dropped.
    connect(&socket, &QUdpSocket::readyRead, this, &LBXForm::onRecvData);
    connect(ui.searchBtn, &QPushButton::clicked, this, &LBXForm::search);
    connect(ui.uuidBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &LBXForm::showInfo);
    connect(ui.configBtn, &QPushButton::clicked, this, &LBXForm::config);
    connect(ui.uploadLogBtn, &QPushButton::clicked, this, &LBXForm::uploadLog);
    connect(ui.factoryBtn, &QPushButton::clicked, this, &LBXForm::factory);
    connect(ui.updateBtn, &QPushButton::clicked, this, &LBXForm::updateApp);
    // The first send binds the socket; its receive buffer is enlarged then.
    connect(&socket, &QUdpSocket::stateChanged, this, &LBXForm::enlargeReceiveBuffer);
    watchOperator();

    // The first search runs once the event loop has started, after show().
    QMetaObject::invokeMethod(this, "search", Qt::QueuedConnection);
    // Taken once: a later change of this computer's addresses is not shown.
    ui.ip->setText(localAddressText());
}

LBXForm::~LBXForm() = default;

// The selection is read whenever it is needed; nothing keeps a copy of it.
QJsonObject LBXForm::selectedDevice() const
{
    return deviceMap.value(ui.uuidBox->currentData().toString()); // the entry's whole uuid
}

QHostAddress LBXForm::selectedAddress() const
{
    return QHostAddress(Protocol::ipText(selectedDevice()));
}

// Forgets every converter listed so far and asks them all again; their
// answers come in through onRecvData(), for as long as they take.
void LBXForm::search()
{
    qDebug() << "search";
    operatorActed = false;
    deviceMap = {};
    ui.uuidBox->clear();
    sendData(Protocol::infoRequest, QHostAddress::Broadcast, Protocol::converterPort);
    ui.configGroup->setEnabled(false);
    ui.systemGroup->setEnabled(false);
}

// Each command goes, once, to the converter selected when sent; its reply opens a box.
void LBXForm::updateApp()
{
    qDebug() << "updateApp";
    const QHostAddress address = selectedAddress();
    sendData(Protocol::updateRequest, address, Protocol::converterPort);
}

void LBXForm::uploadLog()
{
    qDebug() << "uploadLog";
    const QHostAddress address = selectedAddress();
    sendData(Protocol::uploadLogRequest, address, Protocol::converterPort);
}

void LBXForm::factory()
{
    qDebug() << "factory";
    const auto answer = QMessageBox::warning(this, QStringLiteral("恢复出厂"),
        QStringLiteral("确定恢复出厂吗,保存配置和数据都会丢失!!"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No); // Return must not wipe it
    if (answer != QMessageBox::Yes)
        return;
    // Looked up now: the selection may have changed while the box was open.
    const QHostAddress address = selectedAddress();
    sendData(Protocol::factoryRequest, address, Protocol::converterPort);
}

// The box opens once the ready-read handler has returned: Qt emits no readyRead
// while one is being handled, so a box opened inside it would leave the socket
// deaf after it closed. Boxes opened this way stack up to maxReplyBoxes.
void LBXForm::showReplyBox(const QString &title, const QString &text, QMessageBox::Icon icon)
{
    auto show = [this, title, text, icon] {
        if (openReplyBoxes >= maxReplyBoxes)
            return;
        ++openReplyBoxes;
        replyBox(icon, title, text)->exec();
        --openReplyBoxes;
    };
    QMetaObject::invokeMethod(this, show, Qt::QueuedConnection);
}

// Applies the two boxes to the selected converter. It restarts with the new
// settings and answers on its own; the list keeps showing the old values until
// the next search.
void LBXForm::config()
{
    const QJsonObject request
        = Protocol::setRequest(ui.baudBox->currentText(), ui.pluginBox->currentIndex(), pluginMap);
    qDebug() << "config" << request;
    sendData(Protocol::datagram(request), selectedAddress(), Protocol::converterPort);
}

void LBXForm::sendData(const QByteArray &datagram, const QHostAddress &address, quint16 port)
{
    qDebug() << "sendData" << datagram << address.toString() << port;
    if (!address.isNull()) // the dual-stack socket would deliver it to this computer
        socket.writeDatagram(datagram.constData(), datagram.size(), address, port);
}

void LBXForm::onRecvData()
{
    QStringList listed;
    for (int n = 0; n < maxDatagramsPerCall && socket.hasPendingDatagrams(); ++n) {
        const QNetworkDatagram datagram = socket.receiveDatagram();
        if (datagram.data().isEmpty())
            continue;
        qDebug() << "onRecvData" << datagram.data();

        const QJsonObject reply = Protocol::replyObject(datagram.data());
        switch (Protocol::replyKind(reply)) {
        case Protocol::Reply::Info: {
            // Logged as the converter sent it, before "ip" is set from the sender.
            const QJsonObject arg = Protocol::replyArg(reply);
            qDebug() << arg;
            const QString uuid = Protocol::uuidText(arg);
            if (!deviceMap.contains(uuid))
                listed.append(uuid);
            deviceMap.insert(
                uuid, Protocol::deviceRecord(arg, datagram.senderAddress().toString()));
            showInfo();
            ui.configGroup->setEnabled(true);
            ui.systemGroup->setEnabled(true);
            break;
        }
        case Protocol::Reply::Set:
        case Protocol::Reply::UploadLog:
        case Protocol::Reply::Update:
        case Protocol::Reply::Factory:
            showAnswer(Protocol::replyKind(reply), reply);
            break;
        case Protocol::Reply::Unknown:
            break;
        }
    }
    if (!listed.isEmpty())
        listConverters(listed);
}

// The box an answer to a command opens: its confirmation, or, where the
// converter says it failed, a warning with the converter's own words.
void LBXForm::showAnswer(Protocol::Reply kind, const QJsonObject &reply)
{
    struct Box
    {
        const char *title;
        const char *done;
    };
    static const QMap<Protocol::Reply, Box> boxes = {
        {Protocol::Reply::Set, {"配置", "配置已经更新, 30s后请重新搜索!"}},
        {Protocol::Reply::UploadLog, {"上传日志", "日志已经上传!"}},
        {Protocol::Reply::Update, {"更新", "设备检测更新中,2分钟后请重新搜索!"}},
        {Protocol::Reply::Factory, {"恢复出厂", "恢复出厂中,请等待设备重启(2~3分钟)!"}},
    };
    const Box box = boxes.value(kind);
    const QString title = QString::fromUtf8(box.title);
    const QString refusal = Protocol::replyFailure(reply);
    if (refusal.isEmpty())
        showReplyBox(title, QString::fromUtf8(box.done), QMessageBox::Information);
    else
        showReplyBox(title, QStringLiteral("设备拒绝了请求: %1").arg(Protocol::shownText(refusal)),
            QMessageBox::Warning);
}

// A reply's box. Its text is never read as markup: a converter's words are
// shown as they came.
std::unique_ptr<QMessageBox> LBXForm::replyBox(
    QMessageBox::Icon icon, const QString &title, const QString &text)
{
    auto box = std::make_unique<QMessageBox>(icon, title, text, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    return box;
}

// The converters new in this call are listed in one insertion, each entry
// showing its uuid as far as it is shown and holding the whole uuid that
// identifies it. Appended to an empty list, the first becomes current; its
// record is stored already.
void LBXForm::listConverters(const QStringList &uuids)
{
    const bool opens = listOpens();
    QList<QStandardItem *> entries;
    entries.reserve(uuids.size());
    for (const QString &uuid : uuids) {
        auto *entry = new QStandardItem(Protocol::shownText(uuid));
        entry->setData(uuid, Qt::UserRole);
        entries.append(entry);
    }
    auto *list = qobject_cast<QStandardItemModel *>(ui.uuidBox->model());
    list->invisibleRootItem()->insertRows(list->rowCount(), entries);
    if (opens)
        ui.uuidBox->showPopup();
    showInfo();
}

// Whether new converters open the list, decided before they are listed. The
// list opens to show them only while the operator has not acted since the
// search: opened later, it would cover the form and take the click or the keys
// meant for it. Nor does it open over a modal box (the factory-reset
// confirmation above all). Opening the list, and laying out an open list after
// each new entry, measured every entry anew; with a thousand answers listing
// became quadratic. All entries are one-line uuids, so one size serves them
// all; and once the open list is as tall as it gets (it shows fewer rows than
// it has), a new entry simply appears in it, within reach of its scroll bar.
bool LBXForm::listOpens() const
{
    if (operatorActed || QApplication::activeModalWidget())
        return false;
    auto *list = qobject_cast<QListView *>(ui.uuidBox->view());
    if (!list || !list->isVisible())
        return true;
    list->setUniformItemSizes(true);
    const int rowHeight = qMax(1, list->sizeHintForRow(0));
    return list->viewport()->height() / rowHeight >= ui.uuidBox->count();
}

// The operator has acted once they pick an entry, move the focus from the list
// to another part of the window or press a command button.
void LBXForm::watchOperator()
{
    const auto acted = [this] {
        operatorActed = true;
    };
    connect(ui.uuidBox, qOverload<int>(&QComboBox::activated), this, acted);
    for (QPushButton *button : {ui.configBtn, ui.uploadLogBtn, ui.updateBtn, ui.factoryBtn})
        connect(button, &QPushButton::pressed, this, acted);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        // Not the focus the window gets when it is shown or comes back to the front.
        if (old && now && now != ui.uuidBox && isAncestorOf(now))
            operatorActed = true;
    });
}

void LBXForm::showInfo()
{
    const QJsonObject record = selectedDevice();
    ui.macLabel->setText(Protocol::shownText(Protocol::uuidText(record)));
    ui.ipLabel->setText(Protocol::ipText(record));
    ui.versionLabel->setText(Protocol::shownText(Protocol::versionText(record)));
    ui.baudBox->setCurrentText(Protocol::baudText(record));
    ui.pluginBox->setCurrentIndex(Protocol::pluginIndex(record, pluginMap, ui.pluginBox->count()));
}

// A search can bring hundreds of replies at once. The system's default receive
// buffer holds about 160 of them and drops the rest without a word, so it is
// enlarged as soon as the first send has bound the socket. The system caps the
// size (on Linux at twice net.core.rmem_max).
void LBXForm::enlargeReceiveBuffer()
{
    if (socket.state() == QAbstractSocket::BoundState)
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);
}

QNetworkAddressEntry localAddressEntry()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            // Interfaces that are down count too; only 127.0.0.1 itself is passed over.
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol
                && address != QHostAddress(QHostAddress::LocalHost))
                return entry;
        }
    }
    return {};
}

QString localAddressText()
{
    const QString text = localAddressEntry().ip().toString();
    return text.isEmpty() ? QStringLiteral("0.0.0.0") : Protocol::lastAddressPart(text);
}
