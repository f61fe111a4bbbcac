#include "uifont.h"

QString chineseUiFamily(const QStringList &installed)
{
    // Microsoft YaHei UI from Windows 7 on; YaHei on Vista; SimSun before.
    static const char *const preferred[] = {"Microsoft YaHei UI", "Microsoft YaHei", "SimSun"};
    for (const char *family : preferred) {
        if (installed.contains(QLatin1String(family)))
            return QLatin1String(family);
    }
    return {};
}
