#ifndef LBXCTL_TRANSLATION_H
#define LBXCTL_TRANSLATION_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// What lbxctl says to people, in the language they read: Text::tr("...").
// What machines read (JSON, CSV, OpenMetrics, plans, exit statuses) is never
// translated. The sources are tools/lbxctl/translations/*.ts.
class Text
{
    Q_DECLARE_TR_FUNCTIONS(lbxctl)
};

// A text with its arguments, in English where machines read it (JSON) and in
// the user's language where people do (a table). The source is marked for
// the translators: Phrase(QT_TRANSLATE_NOOP("lbxctl", "back after %1")).
class Phrase
{
public:
    Phrase() = default;
    explicit Phrase(const char *source)
        : source(source)
    {
    }

    Phrase arg(const QString &text) const;
    Phrase arg(const Phrase &inner) const;

    QString english() const;
    QString shown() const;
    bool isEmpty() const { return source == nullptr; }

private:
    const char *source = nullptr;
    QStringList englishArgs;
    QStringList shownArgs;
};

// "4800, 9600 or 19200": a choice among the items, in the user's language.
QString alternatives(const QStringList &items);
// The baud rates a converter takes, as such a choice.
QString baudRatesShown();

// A word of a fixed set (a finding's kind, an adapter's look), kept in
// English where machines read it, in the user's language where the word is
// one of those given (each marked with QT_TRANSLATE_NOOP); as it is otherwise.
template <size_t N> QString wordShown(const QString &word, const char *const (&words)[N])
{
    for (const char *known : words) {
        if (word == QLatin1String(known))
            return Text::tr(known);
    }
    return word;
}

// The languages of the messages a user asked for, most wanted first, from
// LC_ALL, LC_MESSAGES, LANG and LANGUAGE as GNU programs read them: LANGUAGE
// lists them unless the locale is C or POSIX; otherwise the locale names one.
QStringList messageLanguages(const QByteArray &lcAll, const QByteArray &lcMessages,
    const QByteArray &lang, const QByteArray &language);

// Loads the translation of the first language wanted that lbxctl has (none
// for English, the language of its sources).
void installTranslation(QCoreApplication &app);

#endif // LBXCTL_TRANSLATION_H
