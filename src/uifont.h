#ifndef UIFONT_H
#define UIFONT_H

#include <QString>
#include <QStringList>

// The face for the window's Chinese captions on Windows, from the font
// families installed: Microsoft YaHei UI, Windows' own Chinese UI font, or its
// nearest kin where it is missing; empty where none is there (Qt's default
// stays). Qt's own default there has no Chinese, and its fallback for a
// non-Chinese Windows tries a Japanese font first.
QString chineseUiFamily(const QStringList &installed);

#endif // UIFONT_H
