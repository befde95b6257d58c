#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;

// The about box "Lorvex Information": product name, version and two web addresses that open
// in the default browser while the box stays open. "확 인" has the focus, so Enter closes it.
class TfrmInfor : public QDialog {
    Q_OBJECT
public:
    using Opener = std::function<bool(const QUrl&)>;

    explicit TfrmInfor(Opener opener, QWidget* parent = nullptr);

    static QUrl HomePage();
    static QUrl SecondSite();
    static QString VersionText();

    void FormActivate();
    void Label1Click();
    void Label2Click();
    void Button1Click();

    QFrame* Panel3;
    QLabel* Image1;
    QLabel* StaticText1;
    QLabel* LabelVersion;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* Button1;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    Opener opener_;
};
