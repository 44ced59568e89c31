#include "app/FleetAllSites.h"

namespace {

bool connect(const RFleetServerSettings& settings, TFleetServer& server, RFleetServerAddress* address,
             QString* error)
{
    if (settings.mServer.trimmed().isEmpty()) {
        *error = QStringLiteral("No fleet server is set (FLEET/Server)");
        return false;
    }
    return ParseFleetServerUri(settings.mServer.trimmed(), address, error) &&
           server.Connect(*address, settings.mPassword, error);
}

} // namespace

bool ReadFleetAllSites(const RFleetServerSettings& settings, const RFleetPolicy& policy, TDateTime now,
                       QVector<RFleetSiteStatusRow>* out, QString* error)
{
    TFleetServer server;
    RFleetServerAddress address;
    out->clear();
    return connect(settings, server, &address, error) && FleetStatusRowsAllSites(server, policy, now, out, error);
}

bool CheckFleetServer(const RFleetServerSettings& settings, QString* reached, QString* error)
{
    TFleetServer server;
    RFleetServerAddress address;
    if (!connect(settings, server, &address, error))
        return false;
    if (server.SchemaVersion(error) < 0)
        return false;
    *reached = address.Display();
    return true;
}
