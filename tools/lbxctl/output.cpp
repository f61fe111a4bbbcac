#include "output.h"
#include "translation.h"

#include <QJsonDocument>
#include <QSaveFile>
#include <QTextBoundaryFinder>
#include <QTextCodec>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <clocale>
#include <cwchar>
#include <langinfo.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace Output {

namespace {

int writeError = 0;

bool isControl(char32_t c)
{
    // C0, DEL, C1, the line and paragraph separators, which break a terminal
    // line, and every format character: the bidirectional controls reorder
    // it, and the zero-width ones make two uuids look alike.
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029
        || QChar::category(c) == QChar::Other_Format;
}

QString escape(const QString &text, bool quoting)
{
    QString out;
    const QVector<uint> characters = text.toUcs4();
    for (uint c : characters) {
        switch (c) {
        case '\n':
            out += QLatin1String("\\n");
            continue;
        case '\t':
            out += QLatin1String("\\t");
            continue;
        case '\\':
            out += QLatin1String("\\\\");
            continue;
        case '"':
            out += quoting ? QStringLiteral("\\\"") : QStringLiteral("\"");
            continue;
        default:
            break;
        }
        if (isControl(c))
            out += c <= 0xff ? QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u{%1}").arg(c, 4, 16, QLatin1Char('0'));
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

} // namespace

QString escaped(const QString &text)
{
    return escape(text, false);
}

QString field(const QString &text)
{
    const QString out = escape(text, true);
    const bool quote = text.isEmpty() || text == QLatin1String("-") || out != text
        || std::any_of(text.cbegin(), text.cend(), [](QChar c) {
               return c.isSpace();
           });
    return quote ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

namespace {

#ifdef Q_OS_WIN
// Windows' own classes of the character: non-spacing, or full width.
int characterWidth(uint character)
{
    const QString text = QString::fromUcs4(&character, 1);
    WORD types[2] = {};
    if (!GetStringTypeW(CT_CTYPE3, reinterpret_cast<LPCWSTR>(text.utf16()), text.size(), types))
        return 1;
    if (types[0] & C3_NONSPACING)
        return 0;
    return types[0] & (C3_FULLWIDTH | C3_IDEOGRAPH | C3_HIRAGANA | C3_KATAKANA) ? 2 : 1;
}
#else
// glibc's width of the character, from Unicode's East Asian widths and its
// zero-width marks, read in UTF-8 whatever the user's locale.
int characterWidth(uint character)
{
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    const locale_t previous = utf8 ? uselocale(utf8) : locale_t(nullptr);
    const int width = wcwidth(wchar_t(character));
    if (previous)
        uselocale(previous);
    return width < 0 ? 1 : width;
}
#endif

// A character with the marks and joiners that go with it takes the columns of
// its first, or two where a variation selector asks for an emoji's picture.
int clusterWidth(const QString &cluster)
{
    const QVector<uint> characters = cluster.toUcs4();
    if (characters.isEmpty())
        return 0;
    return characters.contains(0xfe0f) ? 2 : characterWidth(characters.constFirst());
}

} // namespace

int columns(const QString &text)
{
    int count = 0;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    for (int start = 0, end = graphemes.toNextBoundary(); end != -1;
         start = end, end = graphemes.toNextBoundary())
        count += clusterWidth(text.mid(start, end - start));
    return count;
}

QString padded(const QString &text, int width)
{
    const QString blanks(qMax(0, qAbs(width) - columns(text)), QLatin1Char(' '));
    return width < 0 ? blanks + text : text + blanks;
}

QTextCodec *terminalCodec()
{
    static QTextCodec *const codec = [] {
        QTextCodec *chosen = nullptr;
#ifdef Q_OS_UNIX
        // Qt 5 takes every locale's for UTF-8; the terminal reads the locale's
        // own (GB18030, say). The C locale's ASCII is taken for UTF-8, as
        // Python takes it, so that captions and converters' names stay whole.
        const QByteArray codeset(nl_langinfo(CODESET));
        if (codeset != "ANSI_X3.4-1968")
            chosen = QTextCodec::codecForName(codeset);
#endif
        return chosen ? chosen : QTextCodec::codecForName("UTF-8");
    }();
    return codec;
}

QByteArray encoded(const QString &text)
{
    return terminalCodec()->fromUnicode(text);
}

bool line(const QString &text)
{
    return raw(encoded(text) + '\n');
}

bool text(const QString &text)
{
    return raw(encoded(text));
}

bool raw(const QByteArray &bytes)
{
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size())
        || std::fflush(stdout) != 0) {
        if (!writeError)
            writeError = errno ? errno : EIO;
        return false;
    }
    return true;
}

bool json(const QJsonObject &object)
{
    return raw(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n'); // UTF-8, always
}

void error(const QString &text)
{
    const QByteArray bytes = encoded(text);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

void note(const QString &text)
{
    error(QStringLiteral("lbxctl: ") + text + QLatin1Char('\n'));
}

// Written to a temporary file beside it, which then takes its name: a failure
// leaves the old file whole. Unbuffered, so that each write reports its own
// failure: QSaveFile's commit does not see one that a buffered write meets
// only when it is flushed, and would put a short file in place of the old.
bool writeWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        && file.write(bytes) == bytes.size();
    QString why = file.errorString();
#ifdef Q_OS_UNIX
    // What the file system takes only on its way to the disk fails here.
    if (written && ::fsync(file.handle()) != 0) {
        written = false;
        why = QString::fromLocal8Bit(std::strerror(errno));
    }
#endif
    if (written && file.commit())
        return true;
    if (written) // the commit's own failure: the new file could not take the name
        why = file.errorString();
    *error = Text::tr("cannot write %1: %2").arg(path, why);
    return false; // unless committed, the temporary file goes with it
}

bool deliver(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return raw(bytes);
    QString error;
    if (writeWhole(path, bytes, &error))
        return true;
    note(error);
    return false;
}

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(STDERR_FILENO) == 1;
#else
    return false;
#endif
}

int finish(int status)
{
    if (std::fflush(stdout) != 0 && !writeError)
        writeError = errno ? errno : EIO;
    if (!writeError)
        return status;
    note(Text::tr("cannot write the output: %1")
             .arg(QString::fromLocal8Bit(std::strerror(writeError))));
    return status == 130 ? status : 74;
}

} // namespace Output
