#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace orv {

// The image-location window: where the image server folder tree is.
class frmServer : public QWidget
{
    Q_OBJECT
public:
    static frmServer *instance();

    QLineEdit *txtServerName = nullptr;
    QLineEdit *txtServerFolder = nullptr;
    QCheckBox *chkOverrideImgPath = nullptr;
    QLineEdit *txtSQLServer = nullptr;
    QLineEdit *txtDatabase = nullptr;
    QLineEdit *txtUser = nullptr;
    QLineEdit *txtPassword = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnClose = nullptr;

    void Form_Load();
    void btnOk_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    frmServer();
};

} // namespace orv
