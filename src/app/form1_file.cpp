// File commands of Normal mode: open and save a configuration file.
#include "app/unit1.h"

void TForm1::Open1Click(QObject*) {}

void TForm1::Save1Click(QObject*) {}
