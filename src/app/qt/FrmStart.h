#pragma once

#include "spreadsheet/Spreadsheet.h"
#include "ui/Shell.h"
#include "ui/View.h"

#include <QDeadlineTimer>
#include <QMainWindow>

#include <memory>
#include <string>

class QAction;
class QLabel;
class QMenu;

namespace ordana::qt {

class FrmAbout;
class FrmIndici;

// The main window: the title picture and the menu that opens the indices window and the About box. It stays
// open for the whole run; closing it ends the program. Its outer size is held at 462 x 418 pixels, centred.
class FrmStart : public QMainWindow, private ui::StartView {
    Q_OBJECT
  public:
    // With a workbook (the program started with one, "Open with"), the indices window opens on it once the
    // main window shows.
    explicit FrmStart(spreadsheet::ApplicationFactory start, std::string workbook = {},
                      QWidget* parent = nullptr);
    ~FrmStart() override;

    static constexpr QSize outerSize{462, 418};

    // The secondary windows, null until their menu item is first chosen; then the same object for the run.
    FrmIndici* indicesWindow() const { return frmIndici_; }
    FrmAbout* aboutBox() const { return frmAbout_; }

  public slots:
    void mnuIndici_Click();
    void mnuDespre_Click();
    void mnuIesire_Click();
    void Form_Resize();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showIndicesWindow() override;
    void showAboutBox() override;
    void closeMainWindow() override;
    void createPicture();
    void createMenus();

    spreadsheet::ApplicationFactory start_;
    std::string workbook_;
    std::unique_ptr<ui::Preferences> preferences_;
    QLabel* Picture1 = nullptr;
    QMenu* mnuOptiuni = nullptr;
    QAction* mnuIndici = nullptr;
    QAction* mnuIesire = nullptr;
    QAction* mnuDespre = nullptr;
    QMargins frameAtLastResize_;
    // Set while a restore from the minimised or maximised state is being carried out by the window system,
    // which may still move the window after our last word.
    QDeadlineTimer restoring_; // expired until a restore
    FrmIndici* frmIndici_ = nullptr;
    FrmAbout* frmAbout_ = nullptr;
};

} // namespace ordana::qt
