#pragma once

#include "ui/Desktop.h"
#include "ui/IndicesWindow.h"

#include <QDialog>
#include <QMargins>

#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace ordana::qt {

// The indices window: choose the workbook, pick the worksheet, compute and write. One object lives for the
// whole run; every showing rebuilds the initial state of its controls (Form_Load) while its fields survive.
// The commands, their texts and the working state are the toolkit-free logic's; this class lays out the Qt
// controls, forwards their events and carries out what the logic asks.
class FrmIndici : public QDialog {
    Q_OBJECT
  public:
    // preferences, when given, remembers the two choices between runs.
    explicit FrmIndici(spreadsheet::ApplicationFactory start, QWidget* parent = nullptr,
                       ui::Preferences* preferences = nullptr);
    ~FrmIndici() override;

    // Outer size of the window in pixels, whatever the frame and the DPI.
    static constexpr int kOuterWidth = ui::indices::kOuterWidth;
    static constexpr int kOuterHeight = ui::indices::kOuterHeight;

    // The working state, kept from one showing to the next.
    const std::string& workbookPath() const { return logic_->workbookPath(); }
    const std::string& sheetName() const { return logic_->sheetName(); }
    const SpeciesSample& sample() const { return logic_->sample(); }
    const DiversityResults& results() const { return logic_->results(); }
    int lastAnswer() const { return logic_->lastAnswer(); }
    QString statusText() const;
    // The next showing runs the file command on this workbook, as if chosen in the dialog ("Open with").
    void chooseAtOpening(std::string path) { opening_.set(std::move(path)); }

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
    void cboFoaie_Click(int index);
    void cmdCalcul_Click();
    void cmdCancel_Click();
    void chkEstimatori_Click(bool checked);
    void chkToateFoile_Click(bool checked);

  private:
    class View;
    friend class View;

    void createControls();
    void createStatusBar();
    void setStatusText(const QString& text);
    void placeStatusBar();
    void refitToFrame();
    void applyColours();

    QGroupBox* FraFisier = nullptr;
    QPushButton* cmdFis = nullptr;
    QLineEdit* txtLocatie = nullptr;
    QLabel* lblFis = nullptr;
    QComboBox* cboFoaie = nullptr;
    QCheckBox* chkEstimatori = nullptr;
    QCheckBox* chkToateFoile = nullptr;
    QPushButton* cmdCalcul = nullptr;
    QPushButton* cmdCancel = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* statusLabel_ = nullptr;

    std::unique_ptr<View> view_;
    std::unique_ptr<ui::IndicesWindow> logic_;

    ui::OpeningWorkbook opening_;
    bool resizing_ = false;
    QMargins frameMargins_;
};

} // namespace ordana::qt
