// The fake music portal on its own, so the lyrics window can be tried by
// hand without the real portal: it knows the window's sample song.

#include "fake_portal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const quint16 port = arguments.size() > 1 ? arguments[1].toUShort() : 0;
    FakePortal portal;
    if (port != 0 && !portal.listen(port)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    portal.addSong(FakePortal::sampleSong());
    std::printf("lyrics portal at %s; in addresses.ini: lyrics = 127.0.0.1:%u\n",
                qPrintable(portal.baseAddress()), portal.port());
    std::fflush(stdout);
    return QCoreApplication::exec();
}
