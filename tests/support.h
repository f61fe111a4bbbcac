#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

// What the GUI tests share: converters that answer on real sockets, a catcher
// for the tool's debug lines, and one for the message boxes it opens.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QUdpSocket>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class LBXForm;
class QComboBox;

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

    // When set, each request a converter hears (the broadcast, or one sent to it)
    // is answered from its socket with what this returns; nothing when empty.
    std::function<QByteArray(int converter, const QByteArray &request)> answer;

private:
    void heard(const QList<Received> &requests, int converter);

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

// Catches every message box the moment it is shown, remembers it, and answers
// it from the box's own event loop, as a technician would.
class BoxCatcher : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget *parent = nullptr;
        QMessageBox::StandardButtons buttons;
    };
    // Runs once the box is up; the number counts the boxes shown so far, from 0.
    using Answer = std::function<void(QMessageBox *box, int number)>;

    static Answer press(QMessageBox::StandardButton button);
    static Answer escape();
    static Answer closeButton();
    static Answer leaveOpen() { return {}; }

    explicit BoxCatcher(Answer answer = escape());
    ~BoxCatcher() override;

    void setAnswer(Answer answer) { this->answer = std::move(answer); }
    QList<Box> boxes;
    int openNow() const { return open; }
    int mostOpen() const { return most; }
    // Escapes the box on top, if any; returns whether there was one.
    static bool escapeTopBox();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Answer answer;
    int open = 0;
    int most = 0;
};

// Picks an entry the way a technician does: in the open drop-down, with the
// arrow keys and Return.
void pickEntry(QComboBox *box, int index);

// lbxsim running beside the test, started with the given options.
class SimulatorProcess
{
public:
    explicit SimulatorProcess(const QStringList &arguments);
    ~SimulatorProcess();
    bool started() const { return ready; }
    // Waits until the simulator has said something containing the text.
    bool waitForOutput(const QString &text, int timeoutMs = 5000);
    QString output() const { return QString::fromUtf8(said); }

private:
    QProcess process;
    QByteArray said;
    bool ready = false;
};

template <typename T> T *widget(QWidget *window, const char *name)
{
    return window->findChild<T *>(QString::fromLatin1(name));
}

#endif // TESTS_SUPPORT_H
