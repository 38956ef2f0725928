// A second process for the store tests; it uses the store the way another
// running instance of the program would.
//
//   rw_store_helper get <keyPath> <valueName>      prints the value (UTF-8)
//   rw_store_helper set <keyPath> <valueName> <value>
//   rw_store_helper count <keyPath> <valueName> <n> writes "1", "2" ... "n"

#include "RegModule.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    using RegModule::HKEY_CURRENT_USER;

    if (args.size() == 3 && args[0] == QLatin1String("get")) {
        const QByteArray value
            = RegModule::GetRegValue(HKEY_CURRENT_USER, args[1], args[2]).toUtf8();
        std::fwrite(value.constData(), 1, static_cast<size_t>(value.size()), stdout);
        return 0;
    }
    if (args.size() == 4 && args[0] == QLatin1String("set")) {
        RegModule::SetRegValue(HKEY_CURRENT_USER, args[1], args[2], args[3]);
        return 0;
    }
    if (args.size() == 4 && args[0] == QLatin1String("count")) {
        const int count = args[3].toInt();
        for (int i = 1; i <= count; ++i)
            RegModule::SetRegValue(HKEY_CURRENT_USER, args[1], args[2], QString::number(i));
        return 0;
    }
    std::fputs("usage: rw_store_helper get|set|count <keyPath> <valueName> [value|n]\n", stderr);
    return 2;
}
