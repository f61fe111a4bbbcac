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

// Plug-in name to protocol index, in the order of the protocol box's entries.
// Built before main() runs and released at exit; nothing changes it between.
const Protocol::PluginTable pluginMap = Protocol::pluginTable();

// Reply boxes open right now, counted across the nested event loops they run: a
// flood of replies could otherwise stack boxes until the stack runs out.
static int openReplyBoxes = 0;

LBXForm::LBXForm()
    : QWidget(nullptr)
{
    ui.setupUi(this);

    // The handlers take no arguments: what a signal carries is dropped.
    connect(&socket, &QUdpSocket::readyRead, this, &LBXForm::onRecvData);
    connect(ui.searchBtn, &QPushButton::clicked, this, &LBXForm::search);
    connect(ui.uuidBox, &QComboBox::currentTextChanged, this, &LBXForm::showInfo);
    connect(ui.configBtn, &QPushButton::clicked, this, &LBXForm::config);
    connect(ui.uploadLogBtn, &QPushButton::clicked, this, &LBXForm::uploadLog);
    connect(ui.factoryBtn, &QPushButton::clicked, this, &LBXForm::factory);
    connect(ui.updateBtn, &QPushButton::clicked, this, &LBXForm::updateApp);
    // The first send binds the socket; its receive buffer is enlarged then.
    connect(&socket, &QUdpSocket::stateChanged, this, &LBXForm::enlargeReceiveBuffer);

    // The first search runs once the event loop has started, after show().
    QMetaObject::invokeMethod(this, "search", Qt::QueuedConnection);
    // Taken once: a later change of this computer's addresses is not shown.
    ui.ip->setText(localAddressText());
}

LBXForm::~LBXForm() = default;

// The selection is read whenever it is needed; nothing keeps a copy of it.
QJsonObject LBXForm::selectedDevice() const
{
    return deviceMap.value(ui.uuidBox->currentText());
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
    deviceMap = {};
    ui.uuidBox->clear();
    sendData(Protocol::infoRequest, QHostAddress::Broadcast, Protocol::converterPort);
    ui.configGroup->setEnabled(false);
    ui.systemGroup->setEnabled(false);
}

// Each command goes to the converter selected when it is sent, once, and
// waits for nothing: a reply opens its box whenever it comes.
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
void LBXForm::showReplyBox(const QString &title, const QString &text)
{
    auto show = [this, title, text] {
        if (openReplyBoxes >= maxReplyBoxes)
            return;
        ++openReplyBoxes;
        QMessageBox::information(this, title, text);
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
            const QString uuid = Protocol::shownText(Protocol::uuidText(arg));
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
            showReplyBox(QStringLiteral("配置"), QStringLiteral("配置已经更新, 30s后请重新搜索!"));
            break;
        case Protocol::Reply::UploadLog:
            showReplyBox(QStringLiteral("上传日志"), QStringLiteral("日志已经上传!"));
            break;
        case Protocol::Reply::Update:
            showReplyBox(
                QStringLiteral("更新"), QStringLiteral("设备检测更新中,2分钟后请重新搜索!"));
            break;
        case Protocol::Reply::Factory:
            showReplyBox(
                QStringLiteral("恢复出厂"), QStringLiteral("恢复出厂中,请等待设备重启(2~3分钟)!"));
            break;
        case Protocol::Reply::Unknown:
            break;
        }
    }
    if (listed.isEmpty())
        return;
    // The converters new in this call are listed in one insertion. Appended to an
    // empty list, the first becomes current; its record is stored already.
    ui.uuidBox->addItems(listed);
    openDeviceList();
    showInfo();
}

// Opening the list, and laying out an open list after each new entry, measured
// every entry anew; with a thousand answers listing became quadratic. All
// entries are one-line uuids, so one size serves them all; and once the open
// list is as tall as it gets, a new entry simply appears in it, within reach
// of its scroll bar. Over a modal box (the factory-reset confirmation above
// all) the list does not open: it would take the keys meant for the box.
void LBXForm::openDeviceList()
{
    if (QApplication::activeModalWidget())
        return;
    auto *list = qobject_cast<QListView *>(ui.uuidBox->view());
    if (list)
        list->setUniformItemSizes(true);
    const bool open = ui.uuidBox->view()->isVisible();
    if (!open || ui.uuidBox->count() <= ui.uuidBox->maxVisibleItems())
        ui.uuidBox->showPopup();
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
