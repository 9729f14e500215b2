// A length limit on what the operator types or pastes into an edit box, which
// (unlike the toolkit's own maximum length) never cuts text that the program
// puts there: a pager ID of four characters loaded into a three-character box
// must reach the image again unchanged.
#pragma once

class QLineEdit;

void setTypedLengthLimit(QLineEdit* edit, int limit);
// The limit, or 0 when the box has none.
int typedLengthLimit(const QLineEdit* edit);
