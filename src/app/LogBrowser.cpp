#include "app/LogBrowser.h"

#include <QDir>
#include <algorithm>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>

#include "lang/LangTable.h"
#include "logview/CertPage.h"

namespace {

QString T(int n) { return LangText(n); }

QHash<const TMainCore*, TLogBrowser*>& registry()
{
    static QHash<const TMainCore*, TLogBrowser*> browsers;
    return browsers;
}

int imageOf(const QString& result)
{
    const QString r = result.toUpper();
    if (r == QLatin1String("PASS"))
        return RESULT_IMAGE_PASS;
    if (r == QLatin1String("FAIL"))
        return RESULT_IMAGE_FAIL;
    return RESULT_IMAGE_NONE;
}

QString labelled(int n, const QString& value) { return T(n) + QStringLiteral(" : ") + value; }

// The dock's result and alarm words in the operator's language; other words as the dock wrote them.
QString shownWord(const QString& word)
{
    static const struct {
        const char* word;
        int text;
    } known[] = {{"PASS", 70}, {"FAIL", 71}, {"NONE", 69}, {"ERROR", 72}, {"LOW", 986}, {"HIGH", 987}};
    const QString upper = word.trimmed().toUpper();
    for (const auto& k : known)
        if (upper == QLatin1String(k.word))
            return LangText(k.text, k.word);
    return word;
}

} // namespace

TLogBrowser::TLogBrowser(TMainCore& c) : core(c), store(c.state)
{
    registry().insert(&core, this);
    core.ClearLogBrowser = [this] { Clear(); };
    core.DisplayLogList = [this] { DisplayLogList(); };
    core.SaveLog = [this] { core.LogListBtnSaveClick(); };
}

TLogBrowser::~TLogBrowser()
{
    if (registry().value(&core) == this) {
        registry().remove(&core);
        core.ClearLogBrowser = nullptr;
        core.DisplayLogList = nullptr;
        core.SaveLog = nullptr;
    }
}

TLogBrowser* TLogBrowser::Of(const TMainCore& core) { return registry().value(&core, nullptr); }

uint8_t TLogBrowser::dateStyle() const
{
    return uint8_t(std::clamp(core.state.settings.ConfigSetDateRadio, 0, 2));
}

QVector<RInstrumentNode>* TLogBrowser::tree(List list)
{
    switch (list) {
    case ListCal: return &LogListGDCalTreeView;
    case ListBump: return &LogListGDBumpTreeView;
    default: return nullptr;
    }
}

void TLogBrowser::Clear()
{
    LogListDockList.clear();
    LogListGDEventList.clear();
    LogListGDCalTreeView.clear();
    LogListGDBumpTreeView.clear();
    LogListGDEventGrid.clear();
    m_eventSN.clear();
    notify(PartLists | PartEvents);
}

void TLogBrowser::fillTree(QVector<RInstrumentNode>& nodes, QVector<RLogGDIndex>& index,
                           const QString& staging)
{
    const TUnitDef& unit = *core.FUnitDef;
    for (RLogGDIndex& e : index) {
        const RUnitLogList entry = unit.GetLogList(e.mLogIdx);
        int parent = -1;
        for (int i = 0; i < nodes.size(); ++i)
            if (nodes[i].mText == entry.mAliasName) {
                parent = i;
                break;
            }
        if (parent < 0) {
            nodes.append(RInstrumentNode{entry.mAliasName, {}});
            parent = int(nodes.size()) - 1;
        }
        const QString name = StagedLogName(entry);
        const QString path = AppState::TransferFolder() + staging + name;
        // A name that could point outside the staging folder is never opened.
        const QString result =
            IsSafeLogFileName(name) ? testresult::GetTestResult(path) : QStringLiteral("NONE");
        if (result == QLatin1String("ERROR") && unit.FDevMode)
            core.AddLog(LOGTYPE_PROGRESS1, QStringLiteral("XML Errror : ") + path);
        RResultNode node;
        node.mText = GetDateHMFmt(dateStyle(), entry.mDate, QStringLiteral("-")) +
                     QStringLiteral(" [") + shownWord(result) + ']';
        node.mImage = imageOf(result);
        nodes[parent].mChildren.append(node);
        e.mViewIdx = parent;
        e.mViewSubIdx = int(nodes[parent].mChildren.size()) - 1;
    }
}

void TLogBrowser::DisplayLogList()
{
    // Filling twice must not list anything twice.
    core.FLogDock.clear();
    core.FLOgGDEvent.clear();
    core.FLogGDBump.clear();
    core.FLogGDCal.clear();
    LogListDockList.clear();
    LogListGDEventList.clear();
    LogListGDCalTreeView.clear();
    LogListGDBumpTreeView.clear();

    const TUnitDef& unit = *core.FUnitDef;
    for (int i = 0; i < unit.LogListCount(); ++i) {
        const RUnitLogList& e = unit.FLogList[i];
        if (e.mOpt == UNIT_OPT_DOCK) {
            core.FLogDock.append(i);
            continue;
        }
        if (e.mAliasName.trimmed().size() <= 3)
            continue;
        RLogGDIndex idx;
        idx.mLogIdx = i;
        if (e.mOpt == UNIT_OPT_GDEVENT)
            core.FLOgGDEvent.append(idx);
        else if (e.mOpt == UNIT_OPT_GDBUMP)
            core.FLogGDBump.append(idx);
        else if (e.mOpt == UNIT_OPT_GDCAL)
            core.FLogGDCal.append(idx);
    }

    for (int i : core.FLogDock) {
        // The name part of the dock path (a bare name stands in the root).
        QString path = unit.FLogList[i].mName;
        if (!path.contains('/'))
            path.prepend('/');
        LogListDockList.append(RLogRow{ConvertFatFile(path), true});
    }
    for (RLogGDIndex& e : core.FLOgGDEvent) {
        const QString alias = unit.FLogList[e.mLogIdx].mAliasName;
        int row = -1;
        for (int r = 0; r < LogListGDEventList.size(); ++r)
            if (LogListGDEventList[r].mCaption == alias) {
                row = r;
                break;
            }
        if (row < 0) {
            LogListGDEventList.append(RLogRow{alias, true});
            row = int(LogListGDEventList.size()) - 1;
        }
        e.mViewIdx = row;
        e.mViewSubIdx = 0;
    }
    // An instrument's results newest first: the one a person looks for is on top.
    // The instruments keep the order in which the dock lists them.
    auto newestFirst = [&unit](QVector<RLogGDIndex>& index) {
        QHash<QString, int> first;
        for (const RLogGDIndex& e : index) {
            const QString& alias = unit.FLogList[e.mLogIdx].mAliasName;
            if (!first.contains(alias))
                first.insert(alias, int(first.size()));
        }
        std::stable_sort(index.begin(), index.end(), [&](const RLogGDIndex& a, const RLogGDIndex& b) {
            const RUnitLogList& x = unit.FLogList[a.mLogIdx];
            const RUnitLogList& y = unit.FLogList[b.mLogIdx];
            const int fx = first.value(x.mAliasName), fy = first.value(y.mAliasName);
            return fx != fy ? fx < fy : x.mDate > y.mDate;
        });
    };
    newestFirst(core.FLogGDCal);
    newestFirst(core.FLogGDBump);
    fillTree(LogListGDCalTreeView, core.FLogGDCal, SAVE_DIR_LOG_GDCAL);
    fillTree(LogListGDBumpTreeView, core.FLogGDBump, SAVE_DIR_LOG_GDBUMP);

    const bool any = unit.LogListCount() > 0 && !core.state.FAutoMode;
    core.LogListBtnSaveEnabled = any;
    LogListBtnMakeEnabled = any;
    DisplayDockTestList(TEST_KIND_NONE, RDockTestInfo());
    DrawGDEvent(QString());
    notify(PartLists | PartEvents | PartResult);
    if (core.Changed)
        core.Changed();
}

void TLogBrowser::DrawGDEvent(const QString& sSN)
{
    LogListGDEventGrid.clear();
    m_eventSN = sSN.trimmed();
    if (!m_eventSN.isEmpty()) {
        const QVector<RGDEvent> events =
            ::DrawGDEvent(AppState::TransferFolder() + SAVE_DIR_LOG_GDEVENT, m_eventSN);
        LogListGDEventGrid.reserve(events.size());
        for (const RGDEvent& ev : events)
            LogListGDEventGrid.append({GetDateHMSFmt(dateStyle(), ev.mDate, QStringLiteral("/")),
                                       ev.mDuration, ev.mReading, shownWord(ev.mAlarm), ev.mOption});
    }
    notify(PartEvents);
}

void TLogBrowser::LogListGDEventListClick(int row)
{
    DrawGDEvent(row >= 0 && row < LogListGDEventList.size() ? LogListGDEventList[row].mCaption
                                                             : QString());
}

void TLogBrowser::DisplayDockTest(uint8_t nType, int parent, int child)
{
    if (child < 0 || (nType != TEST_KIND_CAL && nType != TEST_KIND_BUMP))
        return;
    const QVector<RLogGDIndex>& index = nType == TEST_KIND_CAL ? core.FLogGDCal : core.FLogGDBump;
    for (const RLogGDIndex& e : index) {
        if (e.mViewIdx != parent || e.mViewSubIdx != child)
            continue;
        // After "Start Purge" the unit's list is gone and the rows resolve to nothing.
        if (e.mLogIdx < 0 || e.mLogIdx >= core.FUnitDef->LogListCount())
            return;
        const QString name = StagedLogName(core.FUnitDef->FLogList[e.mLogIdx]);
        if (!IsSafeLogFileName(name))
            return;
        const QString path = AppState::TransferFolder() +
                             (nType == TEST_KIND_CAL ? SAVE_DIR_LOG_GDCAL : SAVE_DIR_LOG_GDBUMP) + name;
        RDockTestInfo info;
        if (QFileInfo(path).isFile() && GetDockTestInfo(nType, path, info) == DOCKTEST_OK)
            DisplayDockTestList(nType, info);
        return;
    }
}

QVector<RPanelNode> TLogBrowser::ResultPanel(uint8_t nType, const RDockTestInfo& r, uint8_t nDateStyle)
{
    QVector<RPanelNode> p;
    if (nType == TEST_KIND_NONE)
        return p;
    const bool bump = nType == TEST_KIND_BUMP;
    const int dec = std::clamp(int(r.mGasInfo.mDec), 0, 6);
    const QLocale loc;
    auto num = [&](float v) {
        return loc.toString(double(v), 'f', dec) + ' ' + r.mGasInfo.mUnit;
    };
    auto range = [&](const RDockTestGas& g) {
        const QString text = GetGasLimit(g.mLowLimit, g.mHighLimit, dec);
        // An open range has no number to carry a unit.
        return text.contains(QRegularExpression(QStringLiteral("[0-9]"))) ? text + ' ' + r.mGasInfo.mUnit
                                                                         : text;
    };
    auto gas = [&](int title, const RDockTestGas& g) {
        RPanelNode n{labelled(title, shownWord(g.mResult)), {}};
        n.mChildren << labelled(134, num(g.mConcentration));
        if (bump)
            n.mChildren << labelled(135, range(g));
        else
            n.mChildren << labelled(136, num(g.mPreReading));
        n.mChildren << labelled(137, num(g.mReading));
        return n;
    };
    p << RPanelNode{r.mSN, {}} << RPanelNode{labelled(121, r.mModel), {}}
      << RPanelNode{labelled(122, r.mInstSN), {}}
      << RPanelNode{labelled(123, CertHasDate(r.mDate) ? GetDateHMFmt(nDateStyle, r.mDate, QStringLiteral("-"))
                                                       : QString()),
                    {}}
      << RPanelNode{labelled(124, shownWord(r.mOverAllResult)), {}}
      << RPanelNode{labelled(125, r.mGasInfo.mName),
                    {labelled(126, num(r.mGasInfo.mLowAlarm)), labelled(127, num(r.mGasInfo.mHighAlarm))}}
      << RPanelNode{T(128),
                    {labelled(129, shownWord(r.mPreTest.mEventLog)), labelled(130, shownWord(r.mPreTest.mUpgrade)),
                     labelled(131, shownWord(r.mPreTest.mAudible)), labelled(132, shownWord(r.mPreTest.mVisible))}}
      << gas(133, r.mZero);
    RPanelNode span = gas(138, r.mSpan);
    if (bump)
        span.mChildren << labelled(139, QString::number(r.mSpan.mTime) + QStringLiteral(" s"));
    p << span << RPanelNode{T(140), {labelled(141, r.mGasLot), labelled(142, r.mGasExpire)}}
      << RPanelNode{labelled(143, r.mLocation), {}};
    return p;
}

QStringList TLogBrowser::PanelLines(const QVector<RPanelNode>& panel)
{
    QStringList lines;
    for (const RPanelNode& n : panel) {
        lines << n.mText;
        for (const QString& c : n.mChildren)
            lines << QStringLiteral("  ") + c;
    }
    return lines;
}

void TLogBrowser::DisplayDockTestList(uint8_t nType, const RDockTestInfo& mLogInfo)
{
    LogResTestTreeView.clear();
    PrintViewImageVisible = false;
    PrintResPrintBtnVisible = false;
    FLastReport = RDockTestPrt();
    if (nType != TEST_KIND_NONE) {
        LogResTestTreeView = ResultPanel(nType, mLogInfo, dateStyle());
        if (!CertHasDate(mLogInfo.mDate))
            core.AddLog(LOGTYPE_PROGRESS1, LangText(LANG_RESULT_NO_DATE) + QStringLiteral(" ") + mLogInfo.mSN);
        if (RenderResult)
            FLastReport = RenderResult(nType, mLogInfo);
        else
            FLastReport = RDockTestPrt{nType, mLogInfo, false};
        PrintResPrintBtnVisible = FLastReport.mType != TEST_KIND_NONE;
    }
    notify(PartResult);
}

bool TLogBrowser::LogResLoadBtnClick()
{
    // The saved results are where a person looks for one.
    const QString store = core.state.FLogDestDir.trimmed();
    const QString start = !store.isEmpty() && QFileInfo(store + QStringLiteral("KM1")).isDir()
                              ? store + QStringLiteral("KM1")
                              : store;
    const QString path = core.port.pickFile(T(106), start, LangText(994, "XML file (*.xml)"), false);
    if (path.isEmpty())
        return false;
    return LoadResultFile(path);
}

bool TLogBrowser::LoadResultFile(const QString& path)
{
    const uint8_t kind = TestKindOfResult(path);
    RDockTestInfo info;
    if (GetDockTestInfo(kind, path, info) == DOCKTEST_OK) {
        DisplayDockTestList(kind, info);
        return true;
    }
    DisplayDockTestList(TEST_KIND_NONE, info);
    // A file the person chose by hand deserves a word on why nothing is shown.
    core.port.showMessage(LangText(158) + QStringLiteral("\n") + QDir::toNativeSeparators(path), LangText(709),
                          OperatorPort::Icon::Error);
    return false;
}

void TLogBrowser::MakeLastList()
{
    LogListLastTreeView.clear();
    m_lastFiles.clear();
    const QString dest = AppState::AddLastSlash(core.state.FLogDestDir);
    auto fileIn = [&](const QString& folder, const QString& sub, const QString& name) {
        const QString bare = QFileInfo(name).fileName();
        if (dest.trimmed().isEmpty() || bare.isEmpty() || !IsSafeLogFileName(bare))
            return QString();
        const QString path = folder + sub + bare;
        return QFileInfo(path).isFile() ? path : QString();
    };
    for (const RDockReport& rec : store.FReport) {
        const QString folder = StoreInstrumentDir(dest, rec.mSN);
        RInstrumentNode node{rec.mSN + QStringLiteral(" (") + rec.mSensorName + ')', {}};
        std::array<QString, 2> files;
        const struct {
            int text;
            uint8_t kind;
            const char* sub;
            const QString* name;
        } tests[] = {{117, TEST_KIND_CAL, "CAL/", &rec.mLastCalFile},
                     {118, TEST_KIND_BUMP, "BUMP/", &rec.mLastBumpFile}};
        for (int i = 0; i < 2; ++i) {
            const QString path = fileIn(folder, QLatin1String(tests[i].sub), *tests[i].name);
            files[size_t(i)] = path;
            RResultNode line;
            line.mChecked = false;
            if (!path.isEmpty()) {
                RDockTestInfo info;
                GetDockTestInfo(tests[i].kind, path, info); // dates and result whatever the code
                line.mText = labelled(tests[i].text, GetDateHMFmt(dateStyle(), info.mDate, QStringLiteral("-")));
                line.mImage = imageOf(info.mOverAllResult);
            } else {
                line.mText = labelled(tests[i].text, T(120));
            }
            node.mChildren << line;
        }
        RResultNode ev;
        ev.mChecked = false;
        if (!fileIn(folder, QStringLiteral("EVENT/"), rec.mLastEventFile).isEmpty())
            ev.mText = labelled(119, rec.mLastEvent > 0
                                         ? GetDateHMFmt(dateStyle(), rec.mLastEvent, QStringLiteral("-"))
                                         : QStringLiteral("---"));
        else
            ev.mText = labelled(119, T(120));
        node.mChildren << ev;
        LogListLastTreeView << node;
        m_lastFiles << files;
    }
    notify(PartCurrent);
}

void TLogBrowser::LogListLastTreeViewClick(int parent, int child)
{
    if (parent < 0 || parent >= m_lastFiles.size() || child < 0 || child > 1)
        return;
    const QString& path = m_lastFiles[parent][size_t(child)];
    const uint8_t kind = child == 0 ? TEST_KIND_CAL : TEST_KIND_BUMP;
    RDockTestInfo info;
    if (!path.isEmpty() && QFileInfo(path).isFile() && GetDockTestInfo(kind, path, info) == DOCKTEST_OK)
        DisplayDockTestList(kind, info);
    else
        DisplayDockTestList(TEST_KIND_NONE, info);
}

void TLogBrowser::ToggleResultNode(List list, int parent, int child)
{
    QVector<RInstrumentNode>* t = tree(list);
    if (!t || parent < 0 || parent >= t->size() || child < 0 || child >= (*t)[parent].mChildren.size())
        return;
    RResultNode& n = (*t)[parent].mChildren[child];
    n.mChecked = !n.mChecked;
    notify(PartLists);
}

void TLogBrowser::SetChecked(List list, int row, int child, bool on)
{
    if (list == ListDock || list == ListEvent) {
        QVector<RLogRow>& rows = list == ListDock ? LogListDockList : LogListGDEventList;
        if (row >= 0 && row < rows.size())
            rows[row].mChecked = on;
        return;
    }
    QVector<RInstrumentNode>* t = tree(list);
    if (t && row >= 0 && row < t->size() && child >= 0 && child < (*t)[row].mChildren.size())
        (*t)[row].mChildren[child].mChecked = on;
}

void TLogBrowser::SelectAll(List list, bool on)
{
    if (list == ListDock || list == ListEvent) {
        for (RLogRow& r : list == ListDock ? LogListDockList : LogListGDEventList)
            r.mChecked = on;
    } else {
        for (RInstrumentNode& n : *tree(list))
            for (RResultNode& c : n.mChildren)
                c.mChecked = on;
    }
    notify(PartLists);
}

void TLogBrowser::SelectAllList(bool on)
{
    for (List l : {ListDock, ListEvent, ListCal, ListBump})
        SelectAll(l, on);
}

bool TLogBrowser::SetLogDestination() { return core.GetLogDestination(false); }

bool TLogBrowser::LogListBtnRefreshClick()
{
    QString error;
    bool ok = true;
    const QString dest = core.state.FLogDestDir.trimmed();
    if (dest.isEmpty() || !QFileInfo(dest).isDir()) {
        // No local store yet: nothing to show (and no "Report.Bin" beside the program).
        store.FReport.clear();
        store.FReportHeader = RDockReportHeader();
    } else if (!store.LoadResult(&error)) {
        ok = false;
        core.AddLog(LOGTYPE_PROGRESS2, error);
        core.SetStatus(error, OperatorPort::StatusLook::Failure);
        core.port.showMessage(LangText(826) + '\n' + error, PROG_TITLE, OperatorPort::Icon::Error);
    }
    store.CheckResult();
    MakeLastList();
    core.port.showPage(QStringLiteral("LogListLastTS"));
    return ok;
}

QVector<int> TLogBrowser::CheckedDockRows() const
{
    QVector<int> out;
    for (int i = 0; i < LogListDockList.size(); ++i)
        if (LogListDockList[i].mChecked)
            out << i;
    return out;
}

QVector<int> TLogBrowser::CheckedEventRows() const
{
    QVector<int> out;
    for (int i = 0; i < LogListGDEventList.size(); ++i)
        if (LogListGDEventList[i].mChecked)
            out << i;
    return out;
}

QVector<RCheckedNode> TLogBrowser::CheckedResultNodes(List list) const
{
    QVector<RCheckedNode> out;
    const QVector<RInstrumentNode>& t = list == ListCal ? LogListGDCalTreeView : LogListGDBumpTreeView;
    for (int p = 0; p < t.size(); ++p)
        for (int c = 0; c < t[p].mChildren.size(); ++c)
            if (t[p].mChildren[c].mChecked)
                out << RCheckedNode{p, c, t[p].mText, t[p].mChildren[c].mText};
    return out;
}

int RestoreLogListFromStaging(TUnitDef& unit)
{
    unit.ClearLogList();
    const QString tf = AppState::TransferFolder();
    const struct {
        const QString& dir;
        const char* level;
        const char* pattern;
        uint8_t opt;
    } folders[] = {{SAVE_DIR_LOG_DOCK, "001", "*.CSV", UNIT_OPT_DOCK},
                   {SAVE_DIR_LOG_GDEVENT, "002", "*.CSV", UNIT_OPT_GDEVENT},
                   {SAVE_DIR_LOG_GDBUMP, "003", "*.XML", UNIT_OPT_GDBUMP},
                   {SAVE_DIR_LOG_GDCAL, "003", "*.XML", UNIT_OPT_GDCAL}};
    for (const auto& f : folders) {
        QDir dir(tf + f.dir);
        dir.setNameFilters({QLatin1String(f.pattern)});
        dir.setFilter(QDir::Files);
        dir.setSorting(QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& fi : dir.entryInfoList()) {
            const LogFileClass c = ClassifyLogFile(fi.fileName(), QLatin1String(f.level));
            if (c.mOpt != f.opt)
                continue;
            RFileList rec;
            rec.mName = fi.fileName();
            rec.mDate = c.mDate > 0 ? c.mDate : DateTimeToDays(fi.lastModified());
            rec.mSize = fi.size();
            rec.mAliasName = c.mAliasName;
            rec.mOpt = uint8_t(c.mOpt | UNIT_OPT_EXISTS);
            unit.AddLogList(rec);
        }
    }
    return unit.LogListCount();
}
