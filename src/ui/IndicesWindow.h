#pragma once

// The indices window without a toolkit: its working state, its three commands with their error branches,
// and every text it shows. A toolkit's window creates the controls, forwards their events here and carries
// out what the logic asks of it through IndicesView.

#include "ui/View.h"

#include "analysis/DiversityIndices.h"
#include "analysis/SpeciesSample.h"
#include "spreadsheet/Spreadsheet.h"

#include <string>
#include <vector>

namespace ordana::ui {

namespace indices {

inline constexpr char kCaption[] = "  Calculul indicilor de evaluare a biodiversitatii";
inline constexpr char kFrameCaption[] = "  Sursa date  ";
inline constexpr char kFileButton[] = "Fisierul cu datele";
inline constexpr char kSheetLabel[] = "Alege foaia de calcul";
inline constexpr char kCalcButton[] = "Prelucrarea datelor";
inline constexpr char kCancelButton[] = "Inchide modulul";
// The two choices under the sheet list; "&" marks the access key (Alt+E, Alt+T).
inline constexpr char kEstimatesBox[] = "&Estimatori si curbe";
inline constexpr char kAllSheetsBox[] = "&Toate foile de date";
// Their keys among the remembered choices.
inline constexpr char kEstimatesKey[] = "estimatori";
inline constexpr char kAllSheetsKey[] = "toateFoile";

inline constexpr char kStatusChooseFile[] = " Selectati fisierul si apoi foaia ce contine datele!";
inline constexpr char kStatusReady[] = " Selectati datele si apoi apasati butonul de prelucrare a datelor!";
inline constexpr char kStatusWorking[] = " Procesare...";
inline constexpr char kStatusDone[] = " Prelucrare efectuata";
// With the estimates, the report's name follows.
inline constexpr char kStatusDoneReport[] = " Prelucrare efectuata - raportul: ";
inline constexpr char kStatusDoneErrorsReport[] = " Prelucrare efectuata cu erori - raportul: ";

inline constexpr char kDialogTitle[] = "Alege fisierul Excel";
// Every workbook the engines open first, then the Excel entry of old, then each format alone, then anything.
const std::vector<FileFilter>& fileFilters();

// Twips of the layout: left, top, width, height; the frame's controls relative to the frame.
struct Place {
    int left, top, width, height;
};
inline constexpr Place kFraFisier{120, 120, 6615, 3615};
inline constexpr Place kCmdFis{120, 600, 1935, 375};
inline constexpr Place kTxtLocatie{2160, 600, 4335, 345};
inline constexpr Place kLblFis{240, 1560, 1815, 255};
inline constexpr Place kCboFoaie{2520, 1560, 3015, 315};
inline constexpr Place kChkEstimatori{2520, 2040, 3015, 255};
inline constexpr Place kChkToateFoile{2520, 2400, 3015, 255};
inline constexpr Place kCmdCalcul{3120, 3840, 1695, 375};
inline constexpr Place kCmdCancel{5040, 3840, 1695, 375};
inline constexpr int kStatusBarHeight = 495;
// Outer size in pixels, whatever the frame.
inline constexpr int kOuterWidth = 462;
inline constexpr int kOuterHeight = 418;

} // namespace indices

class IndicesWindow {
  public:
    // preferences may be null: the choices then start off and are not remembered.
    IndicesWindow(spreadsheet::ApplicationFactory start, IndicesView& view,
                  Preferences* preferences = nullptr);

    // The working state, kept from one showing to the next.
    const std::string& workbookPath() const { return workbookPath_; }
    const std::string& sheetName() const { return sheetName_; }
    const SpeciesSample& sample() const { return sample_; }
    const DiversityResults& results() const { return results_; }
    Answer lastAnswer() const { return lastAnswer_; }
    // What the controls show, as the logic last set them.
    const std::vector<std::string>& sheets() const { return sheets_; }
    int selectedSheet() const { return selected_; }
    bool estimates() const { return estimates_; }
    bool allSheets() const { return allSheets_; }

    // The controls as laid out, before the load step; every showing starts from here.
    void initialState();
    void Form_Load();

    void cmdFis_Click();
    // An entry of the list became the selected one, by the user.
    void cboFoaie_Click(int index);
    void cmdCalcul_Click();
    void cmdCancel_Click();
    // The user ticked or cleared a check box.
    void chkEstimatori_Click(bool checked);
    void chkToateFoile_Click(bool checked);

  private:
    void readSelectedSheet();
    // The calculation with the estimates: both tables on the chosen sheet (or on every listed one) in one
    // save, and the report beside the workbook.
    void calculateWithEstimates();
    void disableCalculation();
    void setSheets(std::vector<std::string> sheets, int selected);
    std::string selectedText() const;

    spreadsheet::ApplicationFactory start_;
    IndicesView& view_;
    Preferences* preferences_;

    spreadsheet::SpreadsheetHandles handles_;
    std::string workbookPath_;
    std::string sheetName_;
    SpeciesSample sample_;
    DiversityResults results_;
    Answer lastAnswer_{};

    std::vector<std::string> sheets_;
    int selected_ = -1;
    bool estimates_ = false;
    bool allSheets_ = false;
};

} // namespace ordana::ui
