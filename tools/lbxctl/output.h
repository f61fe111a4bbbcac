#ifndef LBXCTL_OUTPUT_H
#define LBXCTL_OUTPUT_H

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class QTextCodec;

// Everything lbxctl prints. Converter data is untrusted text: in tables and
// messages it is escaped, so that no datagram can forge a row or reach the
// terminal's control sequences; JSON carries it exactly.
namespace Output {

// A table field: text with blanks, quotes, backslashes or control characters,
// the empty text and "-" are quoted, with \n, \t, \", \\ and \xHH or \u{HHHH}
// for the rest.
QString field(const QString &text);
// The same escapes without the quotes, for text inside a message.
QString escaped(const QString &text);

// How many columns a terminal gives the text: two for each East Asian wide
// character, one for the others.
int columns(const QString &text);
// The text padded with blanks to width columns: on the right, or on the left
// for a negative width.
QString padded(const QString &text, int width);

// The encoding of the terminal: the locale's (UTF-8 for the C locale).
QTextCodec *terminalCodec();

// Text for people in the terminal's encoding.
QByteArray encoded(const QString &text);

// One line for people on standard output, in the terminal's encoding, written
// at once; false when it could not be written (the failure is remembered).
bool line(const QString &text);
// Text for people, as it is.
bool text(const QString &text);
// One JSON object on a line, in UTF-8 whatever the locale.
bool json(const QJsonObject &object);
// Bytes on standard output as they are.
bool raw(const QByteArray &bytes);
// A message on standard error: "lbxctl: " and the text.
void note(const QString &text);
// Text on standard error, as it is.
void error(const QString &text);

// The file at path holds the bytes, written whole, or is left as it was (a
// full disk included); false with the reason otherwise.
bool writeWhole(const QString &path, const QByteArray &bytes, QString *error);

// The bytes on standard output, or, with a path, in that file, written whole
// (a failure said); false where they could not be written.
bool deliver(const QString &path, const QByteArray &bytes);

// Whether standard error is a terminal, where progress may be shown: never on
// a pipe or in a file.
bool stderrIsTerminal();

// Standard output flushed: the status, or 74 (EX_IOERR) with a message when any
// line was lost; an interrupt's 130 stays.
int finish(int status);

} // namespace Output

#endif // LBXCTL_OUTPUT_H
