#include "targets.h"

#include "adapter.h"
#include "commandline.h"
#include "output.h"
#include "translation.h"

#include <QRegularExpression>
#include <QSet>

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

namespace {

// A uuid target's converter, or why there is none to send to.
QString resolveUuid(const Target &target, const QList<FoundConverter> &found, Aim *aim)
{
    QStringList at;
    QStringList elsewhere;
    for (const FoundConverter &converter : found) {
        if (converter.uuid != target.uuid)
            continue;
        (converter.asked ? at : elsewhere).append(converter.address.toString());
        if (converter.asked)
            *aim = {converter.address, false, converter.uuidValue()};
    }
    if (at.isEmpty() && !elsewhere.isEmpty())
        return Text::tr("the uuid \"%1\" answered only from %2, which the search did not ask: "
                        "name the converter by its address (ip:%3) to reach it; nothing was sent")
            .arg(Output::escaped(target.uuid), elsewhere.join(QStringLiteral(", ")),
                elsewhere.constFirst());
    if (at.isEmpty())
        return Text::tr("no converter with the uuid \"%1\" answered the search; nothing was sent")
            .arg(Output::escaped(target.uuid));
    if (at.size() > 1)
        return Text::tr("the uuid \"%1\" answered from %2: name the converter meant by "
                        "its address (ip:%3); nothing was sent")
            .arg(Output::escaped(target.uuid), at.join(QStringLiteral(", ")), at.constFirst());
    return {};
}

} // namespace

Resolution resolve(const TargetSet &targets, const QList<FoundConverter> &found)
{
    Resolution resolution;
    QSet<quint32> aimed;
    const auto add = [&](const Aim &aim) {
        if (!aimed.contains(aim.address.toIPv4Address())) {
            aimed.insert(aim.address.toIPv4Address());
            resolution.aims.append(aim);
        }
    };
    for (const Target &target : targets.named) {
        Aim aim{target.address, true, QJsonValue::Undefined};
        if (target.byUuid) {
            const QString refusal = resolveUuid(target, found, &aim);
            if (!refusal.isEmpty())
                return {{}, {}, refusal};
        }
        add(aim);
    }
    for (const FoundConverter &converter : found) {
        if (!targets.all)
            break;
        if (converter.asked)
            add({converter.address, false, converter.uuidValue()});
        else
            resolution.unasked.append(converter);
    }
    return resolution;
}

Clearance clearance(const Aim &aim, const QList<QJsonValue> &heard, bool answered)
{
    if (aim.byAddress)
        return Clearance::Send;
    const bool alone = std::all_of(heard.cbegin(), heard.cend(), [&](const QJsonValue &uuid) {
        return uuid == aim.uuid;
    });
    if (!alone)
        return Clearance::Ambiguous;
    return answered ? Clearance::Send : Clearance::NotFound;
}
