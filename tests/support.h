#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

// What the GUI tests share: converters that answer on real sockets, a catcher
// for the tool's debug lines, and one for the message boxes it opens.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QUdpSocket>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class LBXForm;

// One datagram as a converter received it.
struct Received
{
    QByteArray bytes;
    QHostAddress from;
    quint16 fromPort = 0;
};

// Converters in the private namespace: one socket on 0.0.0.0:12166 hears the
// broadcast, and each converter has its own socket on 127.0.0.N:12166 to
// hear unicast requests and to answer from.
class FakeConverters : public QObject
{
public:
    explicit FakeConverters(int count, int firstHost = 2);

    QHostAddress address(int converter) const;
    // Requests received so far, broadcast ones and those sent to a converter.
    const QList<Received> &broadcasts() const { return broadcastLog; }
    const QList<Received> &unicasts(int converter) const { return unicastLogs[converter]; }
    int unicastTotal() const;

    // Waits for the tool's next broadcast; its sender is where replies go.
    bool waitForBroadcast(int count = 1, int timeoutMs = 5000);
    QHostAddress toolAddress() const { return broadcastLog.constLast().from; }
    quint16 toolPort() const { return broadcastLog.constLast().fromPort; }

    // Sends a datagram from converter n to the tool's reply port.
    void send(int converter, const QByteArray &bytes);
    void sendInfo(int converter, const QString &uuid, const QString &extraMembers = {});

private:
    QUdpSocket broadcastSocket;
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
    QList<Received> broadcastLog;
    std::vector<QList<Received>> unicastLogs;
    int firstHost;
};

// The tool's debug lines as its message handler would see them.
struct DebugLine
{
    QString message;
    QString file;
    int line = 0;
    QString function;
    QString category;
};

class DebugLines
{
public:
    DebugLines();
    ~DebugLines();
    QList<DebugLine> lines;
    QStringList messages() const;
    // Lines whose message starts with the word, such as "sendData".
    QList<DebugLine> withWord(const QString &word) const;
};

// Answers every message box the moment it is shown, and remembers it.
class BoxCatcher : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        int icon = 0;
        QWidget *parent = nullptr;
        int buttons = 0;
    };

    // How to answer: a standard button to click, or 0 to press Escape,
    // or -1 to leave the box open until closeAll().
    explicit BoxCatcher(int answer = 0);
    ~BoxCatcher() override;

    void setAnswer(int answer) { this->answer = answer; }
    QList<Box> boxes;
    int openNow() const { return open; }
    int mostOpen() const { return most; }
    void closeAll();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int answer;
    int open = 0;
    int most = 0;
};

template <typename T> T *widget(QWidget *window, const char *name)
{
    return window->findChild<T *>(QString::fromLatin1(name));
}

#endif // TESTS_SUPPORT_H
