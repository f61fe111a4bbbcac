#include "lbxform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    LBXForm form;
    form.show();
    return QApplication::exec();
}
