#include "translation.h"

#include "output.h"

#include <QTextCodec>

#include "protocol.h"

#include <QLocale>
#include <QTranslator>

namespace {

// All arguments at once: one after another, a converter's "%2" in the first
// would take the place of the second.
QString withArgs(const QString &text, const QStringList &a)
{
    switch (a.size()) {
    case 0:
        return text;
    case 1:
        return text.arg(a[0]);
    case 2:
        return text.arg(a[0], a[1]);
    case 3:
        return text.arg(a[0], a[1], a[2]);
    case 4:
        return text.arg(a[0], a[1], a[2], a[3]);
    default:
        Q_ASSERT(a.size() == 5);
        return text.arg(a[0], a[1], a[2], a[3], a[4]);
    }
}

} // namespace

Phrase Phrase::arg(const QString &text) const
{
    Phrase phrase = *this;
    phrase.englishArgs.append(text);
    phrase.shownArgs.append(text);
    return phrase;
}

Phrase Phrase::arg(const Phrase &inner) const
{
    Phrase phrase = *this;
    phrase.englishArgs.append(inner.english());
    phrase.shownArgs.append(inner.shown());
    return phrase;
}

QString Phrase::english() const
{
    return source ? withArgs(QString::fromUtf8(source), englishArgs) : QString();
}

QString Phrase::shown() const
{
    return source ? withArgs(Text::tr(source), shownArgs) : QString();
}

QString alternatives(const QStringList &items)
{
    if (items.size() < 2)
        return items.value(0);
    return Text::tr("%1 or %2")
        .arg(items.mid(0, items.size() - 1).join(Text::tr(", ")), items.constLast());
}

QString baudRatesShown()
{
    QStringList rates;
    for (int baud : Protocol::baudRates)
        rates.append(QString::number(baud));
    return alternatives(rates);
}

QStringList messageLanguages(const QByteArray &lcAll, const QByteArray &lcMessages,
    const QByteArray &lang, const QByteArray &language)
{
    QByteArray locale = !lcAll.isEmpty() ? lcAll : !lcMessages.isEmpty() ? lcMessages : lang;
    const QByteArray name = locale.split('.').constFirst().split('@').constFirst();
    if (name.isEmpty() || name == "C" || name == "POSIX")
        return {};
    if (!language.isEmpty())
        return QString::fromLatin1(language).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return {QString::fromLatin1(name)};
}

void installTranslation(QCoreApplication &app)
{
#ifdef Q_OS_WIN
    // Windows tells the user's display languages itself.
    const QStringList wanted = QLocale::system().uiLanguages();
#else
    const QStringList wanted = messageLanguages(
        qgetenv("LC_ALL"), qgetenv("LC_MESSAGES"), qgetenv("LANG"), qgetenv("LANGUAGE"));
#endif
    auto *translator = new QTranslator(&app);
    // A terminal that cannot show Chinese is spoken to in English.
    if (!Output::terminalCodec()->canEncode(QStringLiteral("转换器")))
        return;
    for (QString language : wanted) {
        language.replace(QLatin1Char('-'), QLatin1Char('_'));
        if (language == QLatin1String("en") || language.startsWith(QLatin1String("en_")))
            break;
        if (translator->load(
                QStringLiteral("lbxctl_") + language, QStringLiteral(":/translations"))) {
            QCoreApplication::installTranslator(translator);
            return;
        }
    }
}
