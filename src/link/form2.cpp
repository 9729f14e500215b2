#include "link/form2.h"

#include "app/unit1.h"

TForm2::TForm2(TForm1* mainWindow) : QDialog(mainWindow), mainWindow_(mainWindow) {
    setObjectName("Form2");
    setWindowTitle("Transfer Data to Flash");
    setFixedSize(398, 247);
}
