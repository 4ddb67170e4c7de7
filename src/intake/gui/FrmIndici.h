#pragma once

#include "spreadsheet/Spreadsheet.h"

#include <QDialog>

namespace ordana::gui {

// The indices window: choose the workbook, pick the worksheet, compute and write. One object lives for the
// whole run; every showing rebuilds the initial state of its controls (Form_Load) while its fields survive.
class FrmIndici : public QDialog {
    Q_OBJECT
public:
    explicit FrmIndici(spreadsheet::ApplicationFactory start, QWidget* parent = nullptr);

private:
    spreadsheet::ApplicationFactory start_;
};

} // namespace ordana::gui
