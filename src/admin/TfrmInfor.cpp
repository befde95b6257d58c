#include "admin/TfrmInfor.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "tree/NodeImages.h"

namespace {

QLabel* linkLabel(QWidget* parent, const char* name, const QUrl& url) {
    const QString address = url.toString();
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<a href=\"%1\" style=\"color:blue;text-decoration:underline\">"
                                  "%1</a>")
                       .arg(address.toHtmlEscaped()));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    label->setOpenExternalLinks(false);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

}  // namespace

QUrl TfrmInfor::HomePage() { return QUrl(QStringLiteral("https://mariadb.com/kb/en/")); }
QUrl TfrmInfor::SecondSite() { return QUrl(QStringLiteral("https://dev.mysql.com/doc/")); }

QString TfrmInfor::VersionText() {
    return QStringLiteral("Version %1 - administration client for MySQL and MariaDB")
        .arg(QStringLiteral(LORVEX_VERSION));
}

TfrmInfor::TfrmInfor(Opener opener, QWidget* parent) : QDialog(parent), opener_(std::move(opener)) {
    setObjectName(QStringLiteral("frmInfor"));
    setWindowTitle(QStringLiteral("Lorvex Information"));

    Panel3 = new QFrame(this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFrameShape(QFrame::Panel);
    Panel3->setFrameShadow(QFrame::Raised);
    Image1 = new QLabel(Panel3);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(32, 32);
    Image1->setScaledContents(true);
    Image1->setPixmap(NodeImages::icon(0).pixmap(32, 32));
    auto* imageLayout = new QVBoxLayout(Panel3);
    imageLayout->setContentsMargins(4, 4, 4, 4);
    imageLayout->addWidget(Image1);

    StaticText1 = new QLabel(QStringLiteral("Lorvex"), this);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    QFont big = StaticText1->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.6);
    StaticText1->setFont(big);

    LabelVersion = new QLabel(VersionText(), this);
    LabelVersion->setObjectName(QStringLiteral("LabelVersion"));
    Label1 = linkLabel(this, "Label1", HomePage());
    Label2 = linkLabel(this, "Label2", SecondSite());

    Button1 = new QPushButton(QStringLiteral("확 인"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);

    auto* header = new QHBoxLayout;
    header->addWidget(Panel3);
    header->addWidget(StaticText1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(LabelVersion);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Label1, &QLabel::linkActivated, this, [this] { Label1Click(); });
    connect(Label2, &QLabel::linkActivated, this, [this] { Label2Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

bool TfrmInfor::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return QDialog::event(event);
}

void TfrmInfor::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TfrmInfor::FormActivate() { Button1->setFocus(Qt::OtherFocusReason); }

// The results are not checked: a browser that does not start leaves nothing to report.
void TfrmInfor::Label1Click() {
    if (opener_) opener_(HomePage());
}

void TfrmInfor::Label2Click() {
    if (opener_) opener_(SecondSite());
}

void TfrmInfor::Button1Click() { reject(); }
