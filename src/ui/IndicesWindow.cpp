#include "ui/IndicesWindow.h"

#include "analysis/Report.h"
#include "common/Identity.h"
#include "common/RuntimeError.h"
#include "job/ReportFile.h"
#include "job/Run.h"
#include "job/SheetReader.h"
#include "job/Sheets.h"
#include "job/Workbook.h"

#include <optional>
#include <utility>

namespace ordana::ui {

namespace {

constexpr char kActiveX[] = "Eroare la inregistrarea unei componente ActiveX";
constexpr char kOpenCaption[] = "Deschiderea fisierului Excel";
constexpr char kPassword[] = "Parola nu s-a introdus sau e incorecta ";
constexpr char kReadCaption1004[] = "Accesarea  fisierului Excel";
constexpr char kReadCaption[] = "Accesarea fisierului Excel";
constexpr char kUnreachable[] = "Fisier inaccesibil";
constexpr char kWriteCaption[] = "Eroare la scrierea in fisier";
constexpr char kDriveUnreachable[] = "Unitate inacesibila";
constexpr char kFileInUse[] = "Fisierul este in uz sau este protejat la scriere";

// The busy pointer for as long as a command works.
class Busy {
  public:
    explicit Busy(IndicesView& view) : view_(view) { view_.setBusy(true); }
    ~Busy() { view_.setBusy(false); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

  private:
    IndicesView& view_;
};

// Runs a command's body and hands any failure to the command's error branch, outside the catch so that a
// Retry runs the command again from a clean state. Failures that are not numbered run-time errors (memory, a
// library's own exception) take the automation runtime's numbers for them instead of ending the program.
template <class Body, class Branch> void withErrorBranch(Body&& body, Branch&& branch) {
    if (const std::optional<RuntimeError> failure = job::attempt(body)) branch(*failure);
}

Message box(std::string text, std::string caption, Buttons buttons = Buttons::OkOnly,
            std::string detail = {}) {
    return {std::move(text), std::move(caption), buttons, std::move(detail)};
}

Message activeXBox() {
    return box(kActiveX, identity::title, Buttons::AbortRetryIgnore);
}

// What a run with the estimates computed and what failed, for the report and the window.
class Gathered : public job::Listener {
  public:
    void computed(const std::string&, const job::SheetResult& r) override {
        if (r.indices) indices.emplace_back(r.name, *r.indices);
        if (r.estimated) sheets.push_back({r.name, r.community, r.analysis, r.provenance});
    }
    void failed(const std::string&, const job::Failure& f) override {
        if (f.sheet.empty())
            workbook = f.error;
        else
            failures.push_back(f);
    }
    std::vector<ReportSheet> sheets;
    std::vector<std::pair<std::string, DiversityResults>> indices;
    std::vector<job::Failure> failures;
    std::optional<RuntimeError> workbook;
};

std::string fileName(const std::string& path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

} // namespace

std::vector<Answer> buttonsOf(Buttons buttons) {
    if (buttons == Buttons::AbortRetryIgnore) return {Abort, Retry, Ignore};
    return {Ok};
}

const std::vector<FileFilter>& indices::fileFilters() {
    static const std::vector<FileFilter> filters = {
        {"Registre de calcul  (*.xls *.xlsx *.xlsm *.ods)", {"*.xls", "*.xlsx", "*.xlsm", "*.ods"}},
        {"Fisiere Excel  (*.xls)", {"*.xls"}},
        {"Fisiere Excel 2007-365  (*.xlsx *.xlsm)", {"*.xlsx", "*.xlsm"}},
        {"Fisiere OpenDocument  (*.ods)", {"*.ods"}},
        {"Toate fisierele  (*)", {"*"}},
    };
    return filters;
}

IndicesWindow::IndicesWindow(spreadsheet::ApplicationFactory start, IndicesView& view,
                             Preferences* preferences)
    : start_(std::move(start)), view_(view), preferences_(preferences) {
    if (preferences_) {
        estimates_ = preferences_->flag(indices::kEstimatesKey, false);
        allSheets_ = preferences_->flag(indices::kAllSheetsKey, false);
    }
}

void IndicesWindow::initialState() {
    setSheets({}, -1);
    view_.setEnabled(Control::SheetList, false);
    view_.setText(Control::PathBox, {});
    view_.setEnabled(Control::CalcButton, true);
    view_.setText(Control::Status, {});
    view_.setChecked(Control::EstimatesBox, estimates_);
    view_.setChecked(Control::AllSheetsBox, allSheets_);
    view_.setFocus(Control::CancelButton);
}

void IndicesWindow::Form_Load() {
    view_.setEnabled(Control::CalcButton, false);
    view_.setText(Control::Status, indices::kStatusChooseFile);
}

void IndicesWindow::setSheets(std::vector<std::string> sheets, int selected) {
    sheets_ = std::move(sheets);
    selected_ = selected;
    view_.setItems(Control::SheetList, sheets_, selected_);
}

// The status bar never asks for the calculation, nor reports one done, while its button is disabled: it asks
// again for the file and the sheet.
void IndicesWindow::disableCalculation() {
    view_.setEnabled(Control::CalcButton, false);
    view_.setText(Control::Status, indices::kStatusChooseFile);
}

std::string IndicesWindow::selectedText() const {
    return selected_ >= 0 && selected_ < static_cast<int>(sheets_.size()) ? sheets_[selected_]
                                                                          : std::string();
}

void IndicesWindow::cmdFis_Click() {
    std::optional<Busy> busy;
    withErrorBranch(
        [&] {
            sheetName_.clear();
            const std::optional<std::string> chosen =
                view_.askOpenFile(indices::kDialogTitle, indices::fileFilters());
            if (!chosen) throw RuntimeError(err::Cancelled, "Selectia fisierului a fost anulata");
            if (chosen->empty()) return;
            busy.emplace(view_);
            workbookPath_ = *chosen;
            // Whatever sample is held belongs to another workbook from now on.
            disableCalculation();
            setSheets({}, -1);
            job::listDataSheets(start_, workbookPath_, handles_, [this](const std::string& name) {
                std::vector<std::string> sheets = sheets_;
                sheets.push_back(name);
                // Nothing is selected until the listing is complete.
                setSheets(std::move(sheets), -1);
            });
            view_.setEnabled(Control::SheetList, true);
            view_.setText(Control::PathBox, *chosen);
            if (!sheets_.empty()) {
                setSheets(sheets_, 0);
                readSelectedSheet();
            }
        },
        [&](const RuntimeError& e) {
            switch (e.number()) {
            case err::Cancelled:
                sheetName_ = selectedText();
                break;
            case err::CannotCreateObject:
                lastAnswer_ = view_.showMessage(activeXBox());
                if (lastAnswer_ == Abort)
                    view_.close();
                else if (lastAnswer_ == Retry)
                    cmdFis_Click();
                break;
            case err::Application:
                view_.showMessage(box(kPassword, kOpenCaption, Buttons::OkOnly, e.description()));
                setSheets({}, -1);
                view_.setText(Control::PathBox, {});
                disableCalculation();
                break;
            default:
                view_.showMessage(box("Eroarea: " + std::to_string(e.number()), kOpenCaption));
                break;
            }
            handles_.release();
        });
}

void IndicesWindow::cboFoaie_Click(int index) {
    selected_ = index;
    readSelectedSheet();
}

void IndicesWindow::readSelectedSheet() {
    const Busy busy(view_);
    withErrorBranch(
        [&] {
            // Until this reading completes, the sample does not belong to the chosen sheet.
            disableCalculation();
            sheetName_ = selectedText();
            job::readDataSheet(start_, workbookPath_, sheetName_, sample_, handles_);
            view_.setEnabled(Control::CalcButton, true);
            view_.setText(Control::Status, indices::kStatusReady);
        },
        [&](const RuntimeError& e) {
            switch (e.number()) {
            case err::CannotCreateObject:
                lastAnswer_ = view_.showMessage(activeXBox());
                if (lastAnswer_ == Retry) readSelectedSheet();
                break;
            case err::Application:
                view_.showMessage(box(kUnreachable, kReadCaption1004, Buttons::OkOnly, e.description()));
                break;
            default:
                view_.showMessage(
                    box("Eroarea: " + std::to_string(e.number()) + "\r\n" + e.description(), kReadCaption));
                break;
            }
            handles_.release();
        });
}

void IndicesWindow::cmdCalcul_Click() {
    const Busy busy(view_);
    withErrorBranch(
        [&] {
            view_.setText(Control::Status, indices::kStatusWorking);
            // The computation does not return to the event loop: paint the text now.
            view_.paintNow();
            if (estimates_) {
                calculateWithEstimates();
                return;
            }
            results_ = ComputeDiversityIndices(sample_);
            job::saveIndicesTable(start_, workbookPath_, sheetName_, results_, handles_);
            view_.setText(Control::Status, indices::kStatusDone);
        },
        [&](const RuntimeError& e) {
            switch (e.number()) {
            case err::DeviceUnavailable:
                view_.showMessage(box(kDriveUnreachable, kWriteCaption));
                break;
            case err::Application:
                view_.showMessage(box(kFileInUse, kWriteCaption, Buttons::OkOnly, e.description()));
                break;
            case err::CannotCreateObject:
                lastAnswer_ = view_.showMessage(activeXBox());
                if (lastAnswer_ == Abort)
                    view_.close();
                else if (lastAnswer_ == Retry)
                    cmdCalcul_Click();
                break;
            default:
                view_.showMessage(
                    box("Eroare : " + std::to_string(e.number()) + e.description(), kWriteCaption));
                break;
            }
            // Nothing of a half-written table may reach the file.
            job::abandon(handles_);
        });
}

void IndicesWindow::calculateWithEstimates() {
    const std::string report = job::reportBeside(workbookPath_);
    job::checkReportPath(report, {workbookPath_});
    job::Choices choices;
    choices.sheets = allSheets_ && !sheets_.empty() ? sheets_ : std::vector<std::string>{sheetName_};
    choices.estimates = choices.estimatesTable = true;
    choices.date = job::provenanceDate();
    Gathered gathered;
    job::runWorkbook(start_, workbookPath_, choices, gathered);
    if (gathered.workbook) throw *gathered.workbook;
    for (const auto& [name, results] : gathered.indices)
        if (name == sheetName_) results_ = results;
    job::writeReport(report, renderReport(gathered.sheets, job::kReportTitle));
    view_.setText(Control::Status, (gathered.failures.empty() ? indices::kStatusDoneReport
                                                              : indices::kStatusDoneErrorsReport) +
                                       fileName(report));
    view_.openDocument(report);
    if (gathered.failures.empty()) return;
    // One box for the run: the first failure as the calculation shows any, all of them beneath.
    const RuntimeError& first = gathered.failures.front().error;
    std::string all;
    for (const auto& f : gathered.failures)
        all += (all.empty() ? "" : "\r\n") + ("foaia \"" + f.sheet + "\": Eroarea " +
                                              std::to_string(f.error.number()) + " " + f.error.description());
    view_.showMessage(box("Eroare : " + std::to_string(first.number()) + first.description(), kWriteCaption,
                          Buttons::OkOnly, all));
}

void IndicesWindow::cmdCancel_Click() {
    view_.close();
}

void IndicesWindow::chkEstimatori_Click(bool checked) {
    estimates_ = checked;
    if (preferences_) preferences_->setFlag(indices::kEstimatesKey, checked);
}

void IndicesWindow::chkToateFoile_Click(bool checked) {
    allSheets_ = checked;
    if (preferences_) preferences_->setFlag(indices::kAllSheetsKey, checked);
}

} // namespace ordana::ui
