// Key-press and leave rules of the data tabs' fields.
#include "app/unit1.h"

void TForm1::edtAddrKeyPress(QObject*, char&) {}
void TForm1::edtAddrExit(QObject*) {}
void TForm1::edtNameKeyPress(QObject*, char&) {}
void TForm1::edtNameExit(QObject*) {}
void TForm1::edtGroupKeyPress(QObject*, char&) {}
void TForm1::edtGroupExit(QObject*) {}
void TForm1::chkGroup1Click(QObject*) {}
void TForm1::memMsgKeyPress(QObject*, char&) {}
void TForm1::memMsgExit(QObject*) {}
void TForm1::edtPagerIDKeyPress(QObject*, char&) {}
void TForm1::edtPagerIDExit(QObject*) {}
void TForm1::memAMsgKeyPress(QObject*, char&) {}
void TForm1::memAMsgExit(QObject*) {}
