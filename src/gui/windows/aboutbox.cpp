#include "gui/windows/aboutbox.h"

#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include "gui/windows/jpegimage.h"

namespace {

// The picture is kept with the program as a JPEG; a missing or damaged one
// leaves the frame empty rather than stopping the box.
QPixmap programPicture() {
    QFile file(":/windows/programicon.jpg");
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QPixmap::fromImage(decodeJpeg(file.readAll()));
}

}  // namespace

// The picture's resource sits in a static library: register it explicitly.
// (The macro must be used outside any namespace.)
static void initResources() { Q_INIT_RESOURCE(windows); }

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    initResources();
    setObjectName("AboutBox");
    setWindowTitle("AboutBox");
    setFixedSize(306, 242);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 290, 177);
    auto* inner = new QFrame(Panel1);
    inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
    inner->setGeometry(2, 2, 286, 173);

    ProgramIcon = new QLabel(inner);
    ProgramIcon->setObjectName("ProgramIcon");
    ProgramIcon->setGeometry(8, 8, 65, 57);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(programPicture());

    auto label = [inner](const char* name, const QString& text, QRect bounds) {
        auto* l = new QLabel(text, inner);
        l->setObjectName(name);
        l->setGeometry(bounds);
        return l;
    };
    ProductName = label("ProductName", "QM730C", {88, 14, 180, 20});
    QFont productFont = ProductName->font();
    productFont.setBold(true);
    productFont.setPointSize(productFont.pointSize() + 2);
    ProductName->setFont(productFont);
    Version = label("Version", "Version 1.6.1 ( 2005.3.17)", {88, 40, 190, 18});
    Copyright = label("Copyright", "Corvane Electronics", {8, 80, 270, 18});
    Comments = label("Comments", "www.corvane.example", {8, 104, 270, 56});
    Comments->setWordWrap(true);
    Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
    OKButton->setGeometry(115, 200, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}
