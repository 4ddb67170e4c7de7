#include "FrmIndici.h"

namespace ordana::gui {

FrmIndici::FrmIndici(spreadsheet::ApplicationFactory start, QWidget* parent)
    : QDialog(parent), start_(std::move(start)) {
    setObjectName(QStringLiteral("frmIndici"));
}

} // namespace ordana::gui
