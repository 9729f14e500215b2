// The configuration transfer dialog: sends the image to the board or reads it
// back, on the port chosen in the main window.
#pragma once

#include <QDialog>

class TForm1;

class TForm2 : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(TForm1* mainWindow);

private:
    TForm1* mainWindow_;
};
