#include "rostercheck.h"

#include "output.h"
#include "translation.h"

#include <QVector>

#include <algorithm>

QString memberText(const QJsonObject &record, const char *name)
{
    const QJsonValue value = record.value(QLatin1String(name));
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

namespace {

// "ok", or "changed" with what changed between the roster's record and now.
Finding compared(const QString &uuid, const QJsonObject &before, const QJsonObject &now)
{
    QStringList changed;
    QJsonObject changes;
    for (const RosterMember &member : rosterMembers) {
        const QString from = memberText(before, member.name);
        const QString to = memberText(now, member.name);
        if (from == to)
            continue;
        changed.append(
            QStringLiteral("%1 %2 -> %3")
                .arg(QLatin1String(member.name), Output::field(from), Output::field(to)));
        changes.insert(QLatin1String(member.name),
            QJsonObject{{QStringLiteral("from"), from}, {QStringLiteral("to"), to}});
    }
    const QString detail = changed.join(QStringLiteral(", "));
    return {changed.isEmpty() ? QStringLiteral("ok") : QStringLiteral("changed"), uuid,
        Protocol::ipText(now), detail, detail, changes, now};
}

// The converter found for each roster entry, -1 for none: first each one still
// at its old address, then, among those left, one with its uuid (it moved), so
// that an entry whose uuid another shares is never given that other's converter
// while its own answers where it always did.
QVector<int> matches(const QList<QJsonObject> &roster, const QList<FoundConverter> &found)
{
    QVector<int> at(roster.size(), -1);
    QVector<bool> taken(found.size(), false);
    for (const bool sameAddress : {true, false}) {
        for (int r = 0; r < roster.size(); ++r) {
            const QJsonValue uuid = roster.at(r).value(QLatin1String("uuid"));
            for (int i = 0; at[r] < 0 && i < found.size(); ++i) {
                if (taken.at(i) || found.at(i).uuidValue() != uuid
                    || (sameAddress
                        && Protocol::ipText(found.at(i).record) != Protocol::ipText(roster.at(r))))
                    continue;
                at[r] = i;
                taken[i] = true;
            }
        }
    }
    return at;
}

// Why a finding is a duplicate: its uuid answered from another address too,
// or its address answered as another uuid too; empty when neither.
QList<Phrase> duplication(const Finding &finding, const QList<FoundConverter> &found)
{
    QList<Phrase> why;
    const QJsonValue uuid = finding.record.value(QLatin1String("uuid"));
    for (const FoundConverter &converter : found) {
        if (converter.uuidValue() == uuid && Protocol::ipText(converter.record) != finding.ip)
            why.append(Phrase(QT_TRANSLATE_NOOP("lbxctl", "uuid also at %1"))
                           .arg(converter.address.toString()));
    }
    for (const FoundConverter &converter : found) {
        if (Protocol::ipText(converter.record) == finding.ip && converter.uuidValue() != uuid)
            why.append(Phrase(QT_TRANSLATE_NOOP("lbxctl", "address also answers as %1"))
                           .arg(Output::field(converter.uuid)));
    }
    return why;
}

void describe(Finding &finding, const QList<Phrase> &phrases)
{
    QStringList english;
    QStringList shown;
    for (const Phrase &phrase : phrases) {
        english.append(phrase.english());
        shown.append(phrase.shown());
    }
    finding.detail = english.join(QStringLiteral(", "));
    finding.shownDetail = shown.join(QStringLiteral(", "));
}

} // namespace

QList<Finding> compareWithRoster(
    const QList<QJsonObject> &roster, const QList<FoundConverter> &found, bool withRoster)
{
    QList<Finding> findings;
    const QVector<int> match = matches(roster, found);
    QVector<bool> matched(found.size(), false);
    for (int r = 0; r < roster.size(); ++r) {
        const QJsonObject &before = roster.at(r);
        const int at = match.at(r);
        if (at < 0) {
            findings.append(
                {QStringLiteral("missing"), uuidName(before.value(QLatin1String("uuid"))),
                    Protocol::ipText(before), {}, {}, {}, {}});
            describe(findings.last(),
                {Phrase(QT_TRANSLATE_NOOP("lbxctl", "in the roster, did not answer"))});
            continue;
        }
        matched[at] = true;
        findings.append(
            compared(uuidName(before.value(QLatin1String("uuid"))), before, found.at(at).record));
    }
    for (int i = 0; i < found.size(); ++i) {
        if (matched.at(i))
            continue;
        findings.append(
            {withRoster ? QStringLiteral("new") : QStringLiteral("ok"), found.at(i).uuid,
                Protocol::ipText(found.at(i).record), {}, {}, {}, found.at(i).record});
        if (withRoster)
            describe(findings.last(),
                {Phrase(QT_TRANSLATE_NOOP("lbxctl", "answered, not in the roster"))});
    }
    for (Finding &finding : findings) {
        const QList<Phrase> why
            = finding.record.isEmpty() ? QList<Phrase>() : duplication(finding, found);
        if (!why.isEmpty()) {
            finding.kind = QStringLiteral("duplicate");
            describe(finding, why);
        }
    }
    return findings;
}

bool allOk(const QList<Finding> &findings, int expected, int found)
{
    return found == expected
        && std::all_of(findings.cbegin(), findings.cend(), [](const Finding &finding) {
               return finding.kind == QLatin1String("ok");
           });
}
