#include "app/FleetServerSync.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include "app/AppState.h"
#include "fleet/FleetDb.h"
#include "util/OperatorPort.h"

RFleetServerSettings FleetServerSettingsOf(const AppState& state)
{
    const AppSettings& s = state.settings;
    return {s.FleetServer, s.FleetPassword, s.FleetSite, ProgramCaption()};
}

bool FleetServerConfigured(const AppState& state) { return !state.settings.FleetServer.trimmed().isEmpty(); }

void RunOffThread(const std::function<void()>& f)
{
    QEventLoop loop;
    QThread* worker = QThread::create(f);
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    // The thread may have finished before the loop runs.
    if (!worker->isFinished())
        loop.exec();
    worker->wait();
    delete worker;
}

RFleetPushResult PushFleetToServer(const AppState& state, OperatorPort* port,
                                   const std::function<void(int, int)>& progress)
{
    const RFleetServerSettings settings = FleetServerSettingsOf(state);
    const QString dest = state.FLogDestDir;
    RFleetPushResult result;
    QObject context; // progress is handed back to this thread
    RunOffThread([&] {
        {
            // The index first, so that what Save Log or the cycle just stored goes too.
            TFleetDb index(dest);
            if (index.Open())
                index.Update();
        }
        TFleetPush push(dest);
        if (progress)
            push.mProgress = [&](int done, int total) {
                QMetaObject::invokeMethod(&context, [=] { progress(done, total); }, Qt::QueuedConnection);
            };
        result = push.Push(settings);
    });
    if (port)
        port->appendHistory(result.Summary());
    return result;
}

void PushFleetIfConfigured(const AppState& state, OperatorPort* port)
{
    if (FleetServerConfigured(state))
        PushFleetToServer(state, port);
}
