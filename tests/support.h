#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

// What the tests share: converters that answer on real sockets, lbxsim beside
// the test, a catcher for the window's debug lines and one for its boxes.

#include <QHostAddress>
#include <QMessageBox>
#include <QProcess>
#include <QUdpSocket>

#include <functional>
#include <memory>
#include <vector>

class QComboBox;

// One datagram as a converter received it.
struct Received
{
    QByteArray bytes;
    QHostAddress from;
    quint16 fromPort = 0;
};

// Converters in the private namespace: one socket on 0.0.0.0:12166 hears the
// broadcast, and converter n has its own on 127.0.0.(n+2):12166 to hear
// requests sent to it and to answer from.
class FakeConverters : public QObject
{
public:
    explicit FakeConverters(int count);

    const QList<Received> &broadcasts() const { return broadcastLog; }
    const QList<Received> &unicasts(int converter) const { return unicastLogs[converter]; }
    int unicastTotal() const;
    // Waits for the tool's count-th broadcast; its sender is where replies go.
    bool waitForBroadcast(int count = 1);
    quint16 toolPort() const { return broadcastLog.constLast().fromPort; }

    // Once every datagram sent to the converters so far has been read and
    // logged; false when that took more than a few seconds.
    bool settle();

    // Sends a datagram from converter n to the tool's search socket.
    void send(int converter, const QByteArray &bytes);
    void sendInfo(int converter, const QString &uuid);

    // When set, each request a converter hears (the broadcast, or one sent to it)
    // is answered from its socket with what this returns; nothing when empty.
    std::function<QByteArray(int converter, const QByteArray &request)> answer;
    // When set, how many milliseconds the answer to a request takes to go out.
    std::function<int(int converter, const QByteArray &request)> delay;

private:
    void heard(QUdpSocket &socket, int converter);

    QUdpSocket broadcastSocket;
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
    QList<Received> broadcastLog;
    std::vector<QList<Received>> unicastLogs;
};

// The tool's debug lines as Qt's message handler would see them.
struct DebugLine
{
    QString message;
    int line = 0;
    QString function;
};

class DebugLines
{
public:
    DebugLines();
    ~DebugLines();
    QList<DebugLine> lines;
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
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon;
        Qt::TextFormat format;
    };
    // Runs once the box is up; the number counts the boxes shown so far, from 0.
    using Answer = std::function<void(QMessageBox *box, int number)>;
    static Answer press(QMessageBox::StandardButton button);
    static Answer escape();
    static Answer leaveOpen() { return {}; }

    explicit BoxCatcher(Answer answer = escape());
    ~BoxCatcher() override;
    void setAnswer(Answer answer) { this->answer = std::move(answer); }
    QList<Box> boxes;
    int openNow() const { return open; }
    int mostOpen() const { return most; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Answer answer;
    int open = 0;
    int most = 0;
};

// Picks an entry as a technician does: in the open drop-down, with the arrow
// keys and Return.
void pickEntry(QComboBox *box, int index);

// lbxsim beside the test, started with the given options.
class SimulatorProcess
{
public:
    explicit SimulatorProcess(const QStringList &arguments);
    ~SimulatorProcess();
    bool started() const { return ready; }
    bool waitForOutput(const QString &text);
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
