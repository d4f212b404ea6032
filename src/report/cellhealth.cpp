#include "report/cellhealth.h"

#include "report/boardsession.h"

#include <QCoreApplication>

QJsonObject cellHealth(const BoardSession &, QString *missing)
{
    *missing = QCoreApplication::translate("CellHealth",
                                           "Cell health is not available: this build of keldro "
                                           "does not estimate it.");
    return QJsonObject();
}
