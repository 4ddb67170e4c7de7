#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace ordana::qt {

// The About box: picture, title with version, description and credits, and an OK button that is both the
// default and the cancel button. One object serves the run; every showing fills it anew (Form_Load).
class FrmAbout : public QDialog {
    Q_OBJECT
  public:
    explicit FrmAbout(QWidget* parent = nullptr);

    // "Ordana v1.50", three blanks, then the version numbers in plain decimal.
    static QString titleText();
    // The description, an empty line and the credits; lines end in CR LF.
    static QString descriptionText();

  public slots:
    void Form_Load();
    void cmdOK_Click();
    // The close box closes the box the way OK does.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

  private:
    void centre();

    QMargins frameAtLoad_;
    bool loaded_ = false;
    QLabel* frmDespre = nullptr;
    QPushButton* cmdOK = nullptr;
    QFrame* Line1 = nullptr;
    QLabel* lblDescriere = nullptr;
    QLabel* lblTitle = nullptr;
};

} // namespace ordana::qt
