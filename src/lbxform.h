#ifndef LBXFORM_H
#define LBXFORM_H

#include "protocol.h"
#include "ui_lbxform.h"

#include <QJsonObject>
#include <QMap>
#include <QMessageBox>
#include <QNetworkAddressEntry>
#include <QString>
#include <QUdpSocket>
#include <QWidget>

#include <memory>

class QByteArray;
class QHostAddress;

// Plug-in name to the index of its entry in the protocol box.
extern const Protocol::PluginTable pluginMap;

// The first IPv4 address of this computer other than 127.0.0.1, in
// enumeration order; "0.0.0.0" in text form when there is none.
QNetworkAddressEntry localAddressEntry();
QString localAddressText();

class LBXForm : public QWidget
{
    Q_OBJECT

public:
    LBXForm();
    ~LBXForm() override;

    // Converter replies open at most this many boxes at once; the rest are
    // only logged, so no stream of datagrams can stack boxes without end.
    static constexpr int maxReplyBoxes = 8;

    // Datagrams read in one ready-read notification, at most.
    static constexpr int maxDatagramsPerCall = 256;

    // Receive buffer asked for once the socket is bound: room for thousands of replies.
    static constexpr int receiveBufferBytes = 16 * 1024 * 1024;

public slots:
    void search();

private:
    void sendData(const QByteArray &datagram, const QHostAddress &address, quint16 port);
    // Reads every queued datagram, up to maxDatagramsPerCall, each logged and
    // dispatched in arrival order; the socket notifies again while more are
    // queued, so the window stays responsive under a flood.
    void onRecvData();
    void showInfo();
    void config();
    void uploadLog();
    void updateApp();
    void factory();

    void enlargeReceiveBuffer();
    void listConverters(const QStringList &uuids);
    bool listOpens() const;
    void watchOperator();

    QJsonObject selectedDevice() const;
    QHostAddress selectedAddress() const;
    void showAnswer(Protocol::Reply kind, const QJsonObject &reply);
    void showReplyBox(const QString &title, const QString &text, QMessageBox::Icon icon);
    std::unique_ptr<QMessageBox> replyBox(
        QMessageBox::Icon icon, const QString &title, const QString &text);

    Ui::lbxform ui;
    QUdpSocket socket;
    QMap<QString, QJsonObject> deviceMap;
    // Whether the operator has acted in the window since the search.
    bool operatorActed = false;
};

#endif // LBXFORM_H
