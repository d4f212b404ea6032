// The yardstick of bench/startup.sh: an empty Qt window of keldro's fixed size, shown
// and timed by the same probe as keldro.
#include "app/startupprobe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(892, 625);
    window.show();
    StartupProbe::watch(&window);
    return app.exec();
}
