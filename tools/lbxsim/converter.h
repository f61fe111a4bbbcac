#ifndef LBXSIM_CONVERTER_H
#define LBXSIM_CONVERTER_H

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// One simulated LBX converter: what it reports about itself and how it answers
// each request. No sockets here; the simulator carries the datagrams.
class Converter
{
public:
    struct Settings
    {
        int baud = 9600;
        // None: the converter reports no plug-in at all.
        std::optional<QString> pluginName = QStringLiteral("OvUdp485");
    };

    // What a request led to.
    struct Outcome
    {
        QByteArray reply; // empty: no answer
        QString event; // said on the simulator's output; empty for nothing worth saying
        bool restarts = false;
        bool reset = false; // back to factory settings
        // For the journal: answered, rejected, applied, kept (acknowledged,
        // settings kept), reset, update-started, or unknown.
        const char *did = "answered";
        QString words; // why it rejected
    };

    // Behaviours a real converter may show, for testing what a tool makes of them.
    struct Quirks
    {
        bool keepsSettings = false; // acknowledges lbx.set, changes nothing
        bool rejectsSettings = false; // rejects every lbx.set
        bool rejectsUpdates = false; // rejects every lbx.update
        bool uuidAsNumber = false; // reports its uuid as a JSON number
        QString twin; // also answers lbx.info as a converter of this uuid; empty: none
        double updateTo = 0; // lbx.update finds this version (when newer) and restarts into it
    };

    Converter(
        QString uuid, double appVersion, QString romVersion, Settings defaults, Quirks quirks);

    Outcome handle(const QByteArray &request);

    const QString &uuid() const { return id; }
    // The uuid as lbx.info reports it: text, or a number.
    QJsonValue uuidValue() const;
    // The answer to lbx.info as its twin, from the same address; empty without one.
    QByteArray twinInfoReply() const;
    const Settings &settings() const { return current; }
    double version() const { return appVersion; }

    static bool acceptsBaud(int baud);
    // The four plug-ins every converter offers, and its own factory one,
    // whatever its name (a converter takes back what it reported).
    bool acceptsPlugin(const QString &name) const;

private:
    Outcome set(const QJsonObject &arg);
    Outcome factory();
    Outcome update();
    QJsonObject info() const;

    QString id;
    double appVersion;
    QString romVersion;
    Settings defaults;
    Settings current;
    Quirks quirks;
};

#endif // LBXSIM_CONVERTER_H
