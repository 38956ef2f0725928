// A station with a modem, as far as the broker sees it, in a process of its
// own that a test can kill: it connects as the program's modem station does
// (the same last will), says it is listening, and prints "connected" once
// the broker has it.
//
//   station_helper <broker url> <station>

#include "BrokerLink.h"
#include "CallPublisher.h"
#include "HomeNetwork.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 3)
        return 2;
    NetworkSettings settings;
    settings.broker = QString::fromLocal8Bit(argv[1]);
    settings.station = QString::fromLocal8Bit(argv[2]);
    BrokerLink link(HomeNetwork::linkOptions(settings, HomeNetwork::Role::ModemStation));
    CallPublisher publisher(link, settings.station, WatchState::Listening);
    QObject::connect(&link, &BrokerLink::subscribed, [] {
        std::puts("connected");
        std::fflush(stdout);
    });
    link.start();
    return QCoreApplication::exec();
}
