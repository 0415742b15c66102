#ifndef VANTOREL_SIGNINGDIALOG_H
#define VANTOREL_SIGNINGDIALOG_H

#include <QDialog>

class QComboBox;
class QLineEdit;

// What the campaign window's signed export asks: where to write, the certificate and key
// (or one PKCS#12 file), their passphrase, the meaning and the reason. The paths of the
// certificate and key come from config.ini and go back there when accepted.
class SigningDialog : public QDialog
{
    Q_OBJECT

public:
    SigningDialog(const QString &proposedOutput, QWidget *parent = nullptr);

    QString output() const;
    QString certificate() const;
    QString key() const;          // empty with a PKCS#12 certificate file
    bool isPkcs12() const;        // the certificate file ends with .p12 or .pfx
    QByteArray passphrase() const;
    QString meaning() const;
    QString reason() const;

    void accept() override;

private:
    QLineEdit *browsed(const QString &title, bool saving, QWidget *&row);
    QLineEdit *outputEdit, *certificateEdit, *keyEdit, *passphraseEdit, *reasonEdit;
    QComboBox *meaningBox;
};

#endif
