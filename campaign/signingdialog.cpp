#include "signingdialog.h"

#include "pdfsigning.h"
#include "settings.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

SigningDialog::SigningDialog(const QString &proposedOutput, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("signingDialog"));
    setWindowTitle(QStringLiteral("Export signed PDF report"));
    QWidget *outputRow = nullptr, *certificateRow = nullptr, *keyRow = nullptr;
    outputEdit = browsed(QStringLiteral("Signed report"), true, outputRow);
    outputEdit->setText(proposedOutput);
    certificateEdit = browsed(QStringLiteral("Certificate"), false, certificateRow);
    keyEdit = browsed(QStringLiteral("Private key"), false, keyRow);
    const Settings settings;
    certificateEdit->setText(settings.value(SettingsKey::signingCertificate).toString());
    keyEdit->setText(settings.value(SettingsKey::signingKey).toString());
    certificateEdit->setToolTip(QStringLiteral("A PEM certificate, or a PKCS#12 file (.p12, .pfx) that holds the key too."));
    passphraseEdit = new QLineEdit;
    outputEdit->setObjectName(QStringLiteral("output"));
    certificateEdit->setObjectName(QStringLiteral("certificate"));
    keyEdit->setObjectName(QStringLiteral("key"));
    passphraseEdit->setObjectName(QStringLiteral("passphrase"));
    passphraseEdit->setEchoMode(QLineEdit::Password);
    meaningBox = new QComboBox;
    meaningBox->addItems(Signing::meaningNames());
    reasonEdit = new QLineEdit;
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Signed report:"), outputRow);
    form->addRow(QStringLiteral("Certificate:"), certificateRow);
    form->addRow(QStringLiteral("Private key:"), keyRow);
    form->addRow(QStringLiteral("Passphrase:"), passphraseEdit);
    form->addRow(QStringLiteral("Meaning:"), meaningBox);
    form->addRow(QStringLiteral("Reason:"), reasonEdit);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Sign and export"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SigningDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QLineEdit *SigningDialog::browsed(const QString &title, bool saving, QWidget *&row)
{
    auto *edit = new QLineEdit;
    edit->setMinimumWidth(320);
    auto *browse = new QPushButton(QStringLiteral("Browse..."));
    row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    layout->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, [=] {
        const QString path = saving ? QFileDialog::getSaveFileName(this, title, edit->text(), QStringLiteral("PDF (*.pdf)"))
                                    : QFileDialog::getOpenFileName(this, title, edit->text());
        if (!path.isEmpty())
            edit->setText(path);
    });
    return edit;
}

QString SigningDialog::output() const { return outputEdit->text(); }
QString SigningDialog::certificate() const { return certificateEdit->text(); }
QString SigningDialog::key() const { return isPkcs12() ? QString() : keyEdit->text(); }
QByteArray SigningDialog::passphrase() const { return passphraseEdit->text().toUtf8(); }
QString SigningDialog::meaning() const { return meaningBox->currentText(); }
QString SigningDialog::reason() const { return reasonEdit->text(); }

bool SigningDialog::isPkcs12() const
{
    const QString name = certificateEdit->text().toLower();
    return name.endsWith(QLatin1String(".p12")) || name.endsWith(QLatin1String(".pfx"));
}

void SigningDialog::accept()
{
    if (output().isEmpty() || certificate().isEmpty() || (!isPkcs12() && key().isEmpty()))
        return void(QMessageBox::warning(this, windowTitle(),
                                         QStringLiteral("Give the signed report's file, the certificate and its key.")));
    Settings settings;
    settings.setValue(SettingsKey::signingCertificate, certificate());
    settings.setValue(SettingsKey::signingKey, keyEdit->text());
    QDialog::accept();
}
