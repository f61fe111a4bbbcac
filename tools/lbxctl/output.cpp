#include "output.h"
#include "translation.h"

#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace Output {

namespace {

int writeError = 0;

bool isControl(char32_t c)
{
    // C0, DEL, C1, and the line and paragraph separators and bidirectional
    // controls, which reorder or break a terminal line.
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029
        || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
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

int columns(const QString &text)
{
    int count = 0;
    const QVector<uint> characters = text.toUcs4();
    for (uint c : characters) {
        const bool wide = (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf)
            || (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff)
            || (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60)
            || (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x20000 && c <= 0x3fffd);
        count += wide ? 2 : 1;
    }
    return count;
}

QString padded(const QString &text, int width)
{
    const QString blanks(qMax(0, qAbs(width) - columns(text)), QLatin1Char(' '));
    return width < 0 ? blanks + text : text + blanks;
}

bool line(const QString &text)
{
    return raw(text.toUtf8() + '\n');
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
    return line(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void note(const QString &text)
{
    const QByteArray bytes = "lbxctl: " + text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
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
