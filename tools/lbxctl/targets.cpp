#include "targets.h"

#include "commandline.h"
#include "output.h"
#include "translation.h"

#include <QRegularExpression>

#include <algorithm>

QHostAddress unicastAddress(const QString &text, QString *error)
{
    // Decimal only: a leading zero would read as octal elsewhere ("010" is 8).
    static const QRegularExpression dottedQuad(QStringLiteral(
        "^(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9]["
        "0-9]{0,2})$"));
    const QRegularExpressionMatch match = dottedQuad.match(text);
    quint32 address = 0;
    for (int octet = 1; match.hasMatch() && octet <= 4; ++octet) {
        const uint value = match.captured(octet).toUInt();
        if (value > 255) {
            *error = Text::tr("\"%1\" is not an IPv4 address").arg(Output::escaped(text));
            return {};
        }
        address = address << 8 | value;
    }
    if (!match.hasMatch()) {
        *error = Text::tr("\"%1\" is not an IPv4 address of four decimal numbers without "
                          "leading zeros")
                     .arg(Output::escaped(text));
        return {};
    }
    const quint32 first = address >> 24;
    if (first == 0 || first >= 224 || localSubnetEdges().contains(address)) {
        *error = Text::tr("%1 is not one converter's address (a broadcast, multicast, "
                          "network or reserved address reaches many or none)")
                     .arg(text);
        return {};
    }
    return QHostAddress(address);
}

Target parseTarget(const QString &text)
{
    static const QRegularExpression numbersAndDots(QStringLiteral("^[0-9]+(\\.[0-9]+){3}$"));
    Target target;
    target.text = text;
    QString error;
    if (text.startsWith(QLatin1String("uuid:"))) {
        target.byUuid = true;
        target.uuid = text.mid(5);
    } else if (text.startsWith(QLatin1String("ip:"))) {
        target.address = unicastAddress(text.mid(3), &error);
    } else if (numbersAndDots.match(text).hasMatch()) {
        target.address = unicastAddress(text, &error);
        if (!error.isEmpty())
            error += Text::tr("; for a converter whose uuid this is, write uuid:%1").arg(text);
    } else {
        target.byUuid = true;
        target.uuid = text;
    }
    if (target.byUuid && target.uuid.isEmpty())
        error = Text::tr("\"%1\" names no converter: a uuid target is not empty")
                    .arg(Output::escaped(text));
    if (!error.isEmpty())
        refuse(error);
    return target;
}

bool TargetSet::needsSearch() const
{
    return all || std::any_of(named.cbegin(), named.cend(), [](const Target &target) {
        return target.byUuid;
    });
}

TargetSet targetsOf(const CommandLine &line)
{
    TargetSet targets;
    targets.all = line.isSet(QStringLiteral("all"));
    const QStringList texts = line.operands();
    for (const QString &text : texts)
        targets.named.append(parseTarget(text));
    if (targets.named.isEmpty() && !targets.all)
        refuse(Text::tr("%1 needs a target (an address or a uuid) or --all").arg(line.command));
    return targets;
}

Resolution resolve(const TargetSet &targets, const QList<FoundConverter> &found)
{
    Resolution resolution;
    for (const Target &target : targets.named) {
        if (!target.byUuid) {
            resolution.addresses.append(target.address);
            continue;
        }
        QStringList at;
        for (const FoundConverter &converter : found) {
            if (converter.uuid == target.uuid) {
                at.append(converter.address.toString());
                resolution.addresses.append(converter.address);
            }
        }
        if (at.isEmpty())
            return {{},
                Text::tr("no converter with the uuid \"%1\" answered the search; nothing was sent")
                    .arg(Output::escaped(target.uuid))};
        if (at.size() > 1)
            return {{},
                Text::tr("the uuid \"%1\" answered from %2: name the converter meant by "
                         "its address (ip:%3); nothing was sent")
                    .arg(Output::escaped(target.uuid), at.join(QStringLiteral(", ")),
                        at.constFirst())};
    }
    if (targets.all) {
        for (const FoundConverter &converter : found)
            resolution.addresses.append(converter.address);
    }
    return resolution;
}
