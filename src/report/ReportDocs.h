#pragma once
// The report documents written from the alert store: "Report.Html", its dated copy
// under "Report/" (and the optional duplicate folder), the per-report CSV,
// "Report.TXT" and, in developer mode, the raw dump "Report.CSV". Text files are
// 8-bit (legacy code page) with CR LF line ends.
#include <QString>
#include <QStringList>

#include "report/ReportStore.h"

// Escaping: HTML cells escape & < > " '; CSV fields holding a comma, a double quote,
// CR or LF are quoted (RFC 4180), every other field stays exactly as it is.
QString HtmlEscape(const QString& s);
QString CsvField(const QString& s);
// "%d:%2.2d" from whole minutes and remaining seconds.
QString FormatAlarmTime(int nSec);
// "Report_yyyy-mm-dd hh-nn-ss.Html"
QString ReportFileName(TDateTime tReport);

// The documents' lines (without line ends). T is the report time text, P the start
// of the event period ("" when unknown).
QStringList MakeReportHtmlLines(const TReportStore& store, const QString& T, const QString& P);
QStringList MakeReportCsvLines(const TReportStore& store, const QString& T, const QString& P);
QStringList MakeReportTxtLines(const TReportStore& store);
QStringList MakeReportDumpLines(const TReportStore& store);

// Writes the documents into the log destination. bFull starts a new report set
// (mReportDate, mFile, FLastReportDate, FLastReportFile) and writes the copies,
// the CSV, the TXT and (developer mode) the dump; otherwise only "Report.Html".
// Returns the paths written; false in *ok (and *error) when a document could not be
// written (copy failures are ignored).
QStringList MakeSendFiles(TReportStore& store, bool bFull, bool* ok = nullptr, QString* error = nullptr);
