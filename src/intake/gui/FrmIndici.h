#pragma once

#include "analysis/DiversityIndices.h"
#include "analysis/SpeciesSample.h"
#include "spreadsheet/Spreadsheet.h"

#include <QColor>
#include <QDialog>
#include <QMargins>

#include <string>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace ordana::gui {

// The contrast ratio of two colours as WCAG 2 defines it: 1 for equal colours, 21 for black on white.
double contrastRatio(const QColor& a, const QColor& b);

// The indices window: choose the workbook, pick the worksheet, compute and write. One object lives for the
// whole run; every showing rebuilds the initial state of its controls (Form_Load) while its fields survive.
// The handlers only orchestrate: the work is done by the window-free functions of intake and analysis.
class FrmIndici : public QDialog {
    Q_OBJECT
  public:
    explicit FrmIndici(spreadsheet::ApplicationFactory start, QWidget* parent = nullptr);
    ~FrmIndici() override;

    // Outer size of the window in pixels, whatever the frame and the DPI.
    static constexpr int kOuterWidth = 462;
    static constexpr int kOuterHeight = 418;

    // The working state, kept from one showing to the next.
    const std::string& workbookPath() const { return workbookPath_; }
    const std::string& sheetName() const { return sheetName_; }
    const SpeciesSample& sample() const { return sample_; }
    const DiversityResults& results() const { return results_; }
    int lastAnswer() const { return lastAnswer_; }
    QString statusText() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private slots:
    void Form_Load();
    void Form_Resize();
    void cmdFis_Click();
    void cboFoaie_Click();
    void cmdCalcul_Click();
    void cmdCancel_Click();

  private:
    void createControls();
    void initialState();
    void setStatusText(const QString& text);
    void placeStatusBar();
    void refitToFrame();
    void applyColours();

    spreadsheet::ApplicationFactory start_;

    QGroupBox* FraFisier = nullptr;
    QPushButton* cmdFis = nullptr;
    QLineEdit* txtLocatie = nullptr;
    QLabel* lblFis = nullptr;
    QComboBox* cboFoaie = nullptr;
    QPushButton* cmdCalcul = nullptr;
    QPushButton* cmdCancel = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* statusLabel_ = nullptr;

    // Fields.
    spreadsheet::SpreadsheetHandles handles_;
    std::string workbookPath_;
    std::string sheetName_;
    SpeciesSample sample_;
    DiversityResults results_;
    int lastAnswer_ = 0;

    bool resizing_ = false;
    QMargins frameMargins_;
};

} // namespace ordana::gui
