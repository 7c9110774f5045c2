// morrow: the desktop application. It lives exactly as long as its one dialog.
#include "MainDialog.h"

#include <QtWidgets/QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(":/morrow/morrow.png"));
    morrow::MainDialog dialog;
    dialog.exec();
    return 0;
}
