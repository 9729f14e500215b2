// The About box: product, version and maker, opened from the "About" menu.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Copyright = nullptr;  // the maker
    QLabel* Comments = nullptr;   // the maker's web address
    QPushButton* OKButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};
