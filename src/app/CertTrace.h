#pragma once
// What ties a printed result to its record (the Audit layout): the SHA-256 of the
// result file and the instrument's next due dates from the fleet index, when there
// is one. The index is opened once per source and only read, never created here.
#include <memory>

#include "logview/CertPage.h"

class AppState;
class TFleetDb;

// What a page takes from the settings (PRINT, SET/DateFormat) and, for
// PRINT/CertLanguage=Interface, the interface language's font; the layout is PRINT/Type.
RCertOptions CertOptionsOf(const AppState& state);

class TCertTraceSource {
public:
    explicit TCertTraceSource(const AppState& state);
    ~TCertTraceSource();
    TCertTraceSource(const TCertTraceSource&) = delete;
    TCertTraceSource& operator=(const TCertTraceSource&) = delete;

    // The trace of a result read from info.mFile (or from file, when given).
    RCertTrace Of(const RDockTestInfo& info, const QString& file = QString());

private:
    const AppState& m_state;
    std::unique_ptr<TFleetDb> m_db;
    bool m_tried = false;
    TFleetDb* index();
};
