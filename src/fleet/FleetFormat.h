#pragma once
// The fleet's rows as text for people and other programs: an aligned table, CSV
// (RFC 4180, comma, CR LF) and JSON. Column names and order are stable (README.md).
#include <QByteArray>
#include <QStringList>
#include <QVector>

#include "fleet/FleetStatus.h"

enum class FleetFormat { Table, Csv, Json };
bool FleetFormatFromKey(const QString& key, FleetFormat* out); // "table", "csv", "json"

// Columns of "fleet status": one row per instrument.
QStringList FleetStatusColumns();
QStringList FleetStatusValues(const RFleetStatusRow& r);
// Columns of "fleet export" and of the results in "fleet show": one row per test.
QStringList FleetResultColumns();
QStringList FleetResultValues(const RFleetResult& r);
// Columns of the events in "fleet show".
QStringList FleetEventColumns();
QStringList FleetEventValues(const RFleetEvent& e);

// Rows of values under their columns in the chosen form (JSON: an array of objects;
// numbers and empty values as JSON numbers and null where the column is numeric).
QByteArray FleetRowsText(FleetFormat f, const QStringList& columns, const QVector<QStringList>& rows);

// The whole status list (the mail attachment and "fleet status --format csv").
QByteArray FleetStatusCsv(const QVector<RFleetStatusRow>& rows);
