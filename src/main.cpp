#include "lbxform.h"
#include "uifont.h"

#include <QApplication>
#include <QFontDatabase>

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // Scaled as a whole on a high-DPI screen, frames and pixel sizes with the
    // text (the manifest declares the program DPI-aware); at 100% nothing changes.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
    QApplication app(argc, argv);
#ifdef Q_OS_WIN
    const QString family = chineseUiFamily(QFontDatabase().families());
    if (!family.isEmpty())
        QApplication::setFont(QFont(family, 9));
#endif
    LBXForm form;
    form.show();
    return QApplication::exec();
}
