#include "domain/GasTables.h"

QString GetSensorModel(uint8_t nUnitID, uint8_t nSensor, bool bHibernate)
{
    Q_UNUSED(nUnitID);
    Q_UNUSED(bHibernate);
    switch (nSensor) {
    case 2:
        return QStringLiteral("Gaviro SG CO");
    case 3:
        return QStringLiteral("Gaviro SG O2");
    case 4:
        return QStringLiteral("Gaviro SG SO2");
    default:
        return QStringLiteral("Gaviro SG H2S");
    }
}
