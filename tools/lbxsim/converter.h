#ifndef LBXSIM_CONVERTER_H
#define LBXSIM_CONVERTER_H

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// One simulated LBX converter: what it reports about itself and how it answers
// each request. No sockets here; the simulator carries the datagrams.
class Converter
{
public:
    struct Settings
    {
        int baud = 9600;
        QString pluginName = QStringLiteral("OvUdp485");
    };

    // What a request led to.
    struct Outcome
    {
        QByteArray reply; // empty: no answer
        QString event; // said on the simulator's output; empty for nothing worth saying
        bool restarts = false;
    };

    Converter(QString uuid, double appVersion, QString romVersion, Settings defaults);

    Outcome handle(const QByteArray &request);

    const QString &uuid() const { return id; }
    const Settings &settings() const { return current; }

    static bool acceptsBaud(int baud);
    static bool acceptsPlugin(const QString &name);

private:
    Outcome set(const QJsonObject &arg);
    Outcome factory();
    QJsonObject info() const;

    QString id;
    double appVersion;
    QString romVersion;
    Settings defaults;
    Settings current;
};

#endif // LBXSIM_CONVERTER_H
