#include "app/AppIdentity.h"
#include "app/FrmStart.h"
#include "spreadsheet/Spreadsheet.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ordana::app::installIdentity(app);
    ordana::app::FrmStart frmStart(ordana::spreadsheet::nativeApplicationFactory());
    frmStart.show();
    return app.exec();
}
