// Transfer and Read: the configuration to and from the board.
#include "app/unit1.h"

void TForm1::Write1Click(QObject*) {}

void TForm1::Test1Click(QObject*) {}
