// A row control's "Tag": its 0-based row, kept as the dynamic property "Tag"
// so one handler can serve a whole column and find its row.
#pragma once

class QObject;

void setTag(QObject* control, int row);
// The control's row, or -1 when it carries no Tag.
int tagOf(const QObject* control);
