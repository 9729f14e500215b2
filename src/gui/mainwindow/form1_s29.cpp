// S29 mode commands: load a firmware file, write it into the board's flash,
// and check the connection to the board.
#include "gui/mainwindow/unit1.h"

void TForm1::Open2Click(QObject*) {}

void TForm1::Write2Click(QObject*) {}

void TForm1::btnPLinkClick(QObject*) {}
