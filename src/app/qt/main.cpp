#include "app/qt/AppIdentity.h"
#include "app/qt/FrmStart.h"
#include "spreadsheet/Spreadsheet.h"
#include "ui/Desktop.h"

#include <QApplication>

#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ordana::qt::installIdentity(app);
    // Qt has taken its own options off the line by now; a workbook given ("Open with") is what is left.
    std::vector<std::string> arguments;
    for (const QString& argument : QApplication::arguments())
        arguments.push_back(argument.toStdString());
    ordana::qt::FrmStart frmStart(ordana::spreadsheet::nativeApplicationFactory(),
                                  ordana::ui::workbookArgument(arguments));
    frmStart.show();
    return app.exec();
}
